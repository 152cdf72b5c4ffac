// The declarations of every data file: record descriptors from the structs
// of records.h, keys, memos and the catalogue entries.
#include "host/dictionary/declarations.h"

#include <cctype>
#include <functional>
#include <map>

#include "host/dictionary/records.h"

namespace nv::dict {

namespace {

using Builder = std::function<FileDecl(const std::string& prefix)>;

// Key components written without prefix; a leading '-' means descending.
KeyDef Key(const std::string& prefix, const char* name, std::initializer_list<const char*> parts,
           uint32_t attributes) {
  KeyDef k;
  k.label = prefix + ":" + name;
  for (const char* p : parts) {
    std::string s(p);
    if (!s.empty() && s[0] == '-') {
      k.components.push_back("-" + prefix + ":" + s.substr(1));
    } else {
      k.components.push_back(prefix + ":" + s);
    }
  }
  k.attributes = attributes;
  return k;
}

// Key components giving date then time order inside one leading value.
#define NV_BY_DATE "FECLLA_ANO", "FECLLA_MES", "FECLLA_DIA", "HORLLA"

constexpr uint32_t kUnique = 0;
constexpr uint32_t kPrimary = kKeyPrimary;
constexpr uint32_t kDup = kKeyDup;

FileDecl Decl(std::shared_ptr<const RecordType> record, std::vector<KeyDef> keys) {
  FileDecl d;
  d.record = std::move(record);
  d.keys = std::move(keys);
  d.attributes = kFileCreate;
  return d;
}

FileDecl MA11(const std::string& p) {
  using R = MA11Record;
  FileDecl d = Decl(
      DeclareRecord<R>(
          p, {NV_FIELD(R, CODIGO), NV_GROUP(R, FECALT, 3, .picture = "@D6"),
              NV_SUBFIELD(R, FECALT, FECALT_DIA), NV_SUBFIELD(R, FECALT, FECALT_MES),
              NV_SUBFIELD(R, FECALT, FECALT_ANO), NV_FIELD(R, NOMBRE, .picture = "@s50"),
              NV_FIELD(R, DIRECC, .picture = "@s50"), NV_FIELD(R, LOCALI, .picture = "@s30"),
              NV_FIELD(R, PROVIN, .picture = "@s15"), NV_FIELD(R, CODRUB, .picture = "@n-4.0"),
              NV_FIELD(R, CODRES, .picture = "@n-4.0"), NV_FIELD(R, CLIENT), NV_FIELD(R, CODEMP),
              NV_FIELD(R, CARGOC, .picture = "@s30"),
              NV_FIELD(R, CUITNO, .picture = "@P##-########-#P"),
              NV_FIELD(R, CONIVA, .picture = "@s25"), NV_FIELD(R, CODPOS, .picture = "@s15"),
              NV_FIELD(R, ESEMPR, .picture = "@s1")}),
      {Key(p, "MA11_CP", {"CODIGO"}, kPrimary), Key(p, "MA11_C1", {"NOMBRE", "ESEMPR"}, kUnique),
       Key(p, "MA11_C4", {"CODEMP", "NOMBRE"}, kDup)});
  d.memos = {{p + ":COMENT", 64000, 0, ""}};
  return d;
}

FileDecl RE09(const std::string& p) {
  using R = RE09Record;
  return Decl(
      DeclareRecord<R>(
          p, {NV_FIELD(R, CODIGO, .picture = "@n-9.0"), NV_FIELD(R, NROTEL, .picture = "@s40"),
              NV_FIELD(R, COMENT, .picture = "@s30"), NV_FIELD(R, GRUAGE, .picture = "@n-6.0"),
              NV_FIELD(R, CARINI), NV_FIELD(R, LONTEL)}),
      {Key(p, "RE09_CP", {"CODIGO", "NROTEL"}, kPrimary), Key(p, "RE09_C1", {"NROTEL"}, kUnique),
       Key(p, "RE09_C3", {"CARINI", "-LONTEL", "NROTEL"}, kDup)});
}

FileDecl TA01(const std::string& p) {
  using R = TA01Record;
  return Decl(
      DeclareRecord<R>(p, {NV_FIELD(R, CODUSR, .picture = "@n-4.0"), NV_FIELD(R, ATRUSR),
                           NV_FIELD(R, CLAVE), NV_FIELD(R, NOMUSR, .picture = "@s30")}),
      {Key(p, "TA01_CP", {"CODUSR"}, kPrimary), Key(p, "TA01_C1", {"NOMUSR", "CLAVE"}, kDup)});
}

FileDecl TA02(const std::string& p) {
  using R = TA02Record;
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, CODRUB, .picture = "@n-4.0"),
                                   NV_FIELD(R, DESRUB, .picture = "@s30")}),
              {Key(p, "TA02_CP", {"CODRUB"}, kPrimary), Key(p, "TA02_C1", {"DESRUB"}, kDup)});
}

FileDecl TA09(const std::string& p) {
  using R = TA09Record;
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, GRUAGE, .picture = "@n-6.0"),
                                   NV_FIELD(R, DESGRU, .picture = "@s50")}),
              {Key(p, "TA09_CP", {"GRUAGE"}, kPrimary), Key(p, "TA09_C1", {"DESGRU"}, kDup)});
}

FileDecl CENT(const std::string& p) {
  using R = CENTRecord;
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, NROCEN), NV_FIELD(R, RESERV), NV_FIELD(R, NOMCEN)}),
              {Key(p, "CP_CENT", {"NROCEN"}, kPrimary)});
}

FileDecl MO04(const std::string& p) {
  using R = MO04Record;
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, CODIGO)}), {Key(p, "MO04_CP", {"CODIGO"}, kDup)});
}

FileDecl SAL(const std::string& p) {
  using R = SALRecord;
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, LINEA)}), {});
}

FileDecl AUXAGRU(const std::string& p) {
  using R = AUXAGRURecord;
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, CODRUB), NV_FIELD(R, DESRUB), NV_FIELD(R, CODARC)}),
              {Key(p, "AUXAGRU_C2", {"CODARC"}, kDup)});
}

FileDecl AUXAGGR(const std::string& p) {
  using R = AUXAGGRRecord;
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, GRUAGE), NV_FIELD(R, DESGRU), NV_FIELD(R, CODARC)}),
              {Key(p, "AUXAGGR_C2", {"CODARC"}, kDup)});
}

FileDecl AUXAGEM(const std::string& p) {
  using R = AUXAGEMRecord;
  return Decl(
      DeclareRecord<R>(
          p, {NV_FIELD(R, CODARC), NV_GROUP(R, FECALT, 3, .picture = "@D6"),
              NV_SUBFIELD(R, FECALT, FECALT_DIA), NV_SUBFIELD(R, FECALT, FECALT_MES),
              NV_SUBFIELD(R, FECALT, FECALT_ANO), NV_FIELD(R, NOMBRE), NV_FIELD(R, DIRECC),
              NV_FIELD(R, LOCALI), NV_FIELD(R, PROVIN), NV_FIELD(R, CODRUB), NV_FIELD(R, CLIENT),
              NV_FIELD(R, CUITNO), NV_FIELD(R, CONIVA), NV_FIELD(R, CODPOS)}),
      {Key(p, "AUXAGEM_C1", {"CODARC"}, kDup)});
}

template <class R>
FileDecl StagedNumbers(const std::string& p, const char* key) {
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, CODARC), NV_FIELD(R, NROTEL), NV_FIELD(R, COMENT),
                                   NV_FIELD(R, GRUAGE)}),
              {Key(p, key, {"CODARC"}, kDup)});
}

FileDecl AUXAGCO(const std::string& p) {
  using R = AUXAGCORecord;
  return Decl(
      DeclareRecord<R>(p, {NV_FIELD(R, CODARC), NV_GROUP(R, FECALT, 3, .picture = "@D6"),
                           NV_SUBFIELD(R, FECALT, FECALT_DIA), NV_SUBFIELD(R, FECALT, FECALT_MES),
                           NV_SUBFIELD(R, FECALT, FECALT_ANO), NV_FIELD(R, NOMBRE),
                           NV_FIELD(R, DIRECC), NV_FIELD(R, LOCALI), NV_FIELD(R, PROVIN),
                           NV_FIELD(R, CODEMP), NV_FIELD(R, CARGOC), NV_FIELD(R, CODPOS)}),
      {Key(p, "AUXAGCO_C2", {"CODEMP"}, kDup)});
}

FileDecl TA06DOS(const std::string& p) {
  using R = TA06DOSRecord;
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, GRUPO), NV_FIELD(R, DESCRI)}),
              {Key(p, "TA06_CP", {"GRUPO"}, kDup)});
}

FileDecl MA06DOS(const std::string& p) {
  using R = MA06DOSRecord;
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, CODIGO), NV_FIELD(R, GRUPO), NV_FIELD(R, NOMBRE),
                                   NV_FIELD(R, DIRECC)}),
              {Key(p, "MA06_CP", {"CODIGO"}, kDup)});
}

FileDecl RE01DOS(const std::string& p) {
  using R = RE01DOSRecord;
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, CODIGO), NV_FIELD(R, NROTEL), NV_FIELD(R, COMENT)}),
              {Key(p, "RE01_CP", {"CODIGO", "NROTEL"}, kDup)});
}

// FXMO01 / FXMO02 and their aliases. Key names carry the file's own number
// ("MO01_C1" for MO01 and AMO01 alike).
FileDecl Calls(const std::string& p, const std::string& n) {
  using R = CallRecord;
  auto k = [&](const char* suffix, std::initializer_list<const char*> parts) {
    return Key(p, (n + suffix).c_str(), parts, kDup);
  };
  return Decl(DeclareRecord<R>(p, {NV_FIELD(R, CODLLA),
                                   NV_GROUP(R, FECLLA, 3, .picture = "@D6"),
                                   NV_SUBFIELD(R, FECLLA, FECLLA_DIA),
                                   NV_SUBFIELD(R, FECLLA, FECLLA_MES),
                                   NV_SUBFIELD(R, FECLLA, FECLLA_ANO),
                                   NV_FIELD(R, HORLLA, .picture = "@T4"),
                                   NV_FIELD(R, NROINT),
                                   NV_FIELD(R, NROLIN),
                                   NV_FIELD(R, NROTEL),
                                   NV_FIELD(R, DURLLA, .picture = "@T4"),
                                   NV_FIELD(R, RINLLA, .picture = "@T4"),
                                   NV_FIELD(R, NROCTA),
                                   NV_FIELD(R, COSLLA),
                                   NV_FIELD(R, DESLLA),
                                   NV_FIELD(R, TIPOLLA),
                                   NV_FIELD(R, CODIGO),
                                   NV_FIELD(R, TRANSF),
                                   NV_FIELD(R, RESERV),
                                   NV_FIELD(R, GRUINT),
                                   NV_FIELD(R, GRULIN),
                                   NV_FIELD(R, GRUCTA),
                                   NV_FIELD(R, GRUAGE),
                                   NV_FIELD(R, CODAGT),
                                   NV_FIELD(R, GRUAGT)}),
              {k("_C1", {NV_BY_DATE}), k("_C2", {"NROLIN", NV_BY_DATE}),
               k("_C3", {"NROINT", NV_BY_DATE}), k("_C4", {"NROCTA", NV_BY_DATE}),
               k("_C5", {"GRUINT", NV_BY_DATE}), k("_C6", {"GRULIN", NV_BY_DATE}),
               k("_C7", {"GRUCTA", NV_BY_DATE}), k("_C8", {"GRUAGE", NV_BY_DATE}),
               k("_C9", {"NROTEL", NV_BY_DATE}), k("_C11", {"CODAGT", NV_BY_DATE}),
               k("_C12", {"GRUAGT", NV_BY_DATE}), k("_CP", {"CODLLA", NV_BY_DATE})});
}

FileDecl Transfers(const std::string& p, const std::string& n) {
  using R = TransferRecord;
  return Decl(
      DeclareRecord<R>(
          p, {NV_FIELD(R, CODLLA), NV_GROUP(R, FECLLA, 3, .picture = "@D6"),
              NV_SUBFIELD(R, FECLLA, FECLLA_DIA), NV_SUBFIELD(R, FECLLA, FECLLA_MES),
              NV_SUBFIELD(R, FECLLA, FECLLA_ANO), NV_FIELD(R, HORLLA), NV_FIELD(R, DURLLA),
              NV_FIELD(R, COSLLA), NV_FIELD(R, TIPOLLA), NV_FIELD(R, DESLLA), NV_FIELD(R, NROLIN),
              NV_FIELD(R, NROCTA), NV_FIELD(R, NROTEL), NV_FIELD(R, CODIGO), NV_FIELD(R, GRULIN),
              NV_FIELD(R, GRUCTA), NV_FIELD(R, GRUAGE)}),
      {Key(p, (n + "_CP").c_str(), {"CODLLA"}, kPrimary),
       Key(p, (n + "_C1").c_str(), {NV_BY_DATE}, kDup),
       Key(p, (n + "_C9").c_str(), {"NROTEL", NV_BY_DATE}, kDup)});
}

template <class R>
FileDecl Lookup(const std::string& p, std::initializer_list<FieldSpec> fields, const char* code,
                std::vector<KeyDef> more = {}) {
  std::vector<KeyDef> keys{Key(p, (p + "_CP").c_str(), {code}, kPrimary)};
  for (KeyDef& k : more) keys.push_back(std::move(k));
  return Decl(DeclareRecord<R>(p, fields), std::move(keys));
}

struct Entry {
  FileInfo info;
  Builder build;
};

FileInfo Info(std::string label, std::string prefix, std::string base = "") {
  FileInfo s;
  s.label = std::move(label);
  s.prefix = std::move(prefix);
  s.base = std::move(base);
  s.driver = kDefaultDriver;
  s.default_name = std::string(kDataFolder) + s.store_label();
  return s;
}

std::vector<Entry> BuildEntries() {
  std::vector<Entry> e;
  auto add = [&](FileInfo s, Builder b) { e.push_back({std::move(s), std::move(b)}); };

  // Directory files: created when missing.
  auto dir = [](FileInfo s) {
    s.create_on_open = true;
    return s;
  };
  FileInfo ma11 = dir(Info("FXMA11", "MA11"));
  ma11.code_field = "MA11:CODIGO";
  ma11.code_key = "MA11:MA11_CP";
  ma11.related = {"FXRE09", "FXTA01", "FXTA02"};
  add(ma11, MA11);
  FileInfo alma11 = dir(Info("ALMA11", "AMA11", "FXMA11"));
  alma11.code_field = "AMA11:CODIGO";
  alma11.code_key = "AMA11:MA11_CP";
  alma11.related = {"ALRE09", "FXTA01"};
  add(alma11, MA11);
  FileInfo a2ma11 = dir(Info("A2MA11", "A2MA11", "FXMA11"));
  a2ma11.code_field = "A2MA11:CODIGO";
  a2ma11.code_key = "A2MA11:MA11_CP";
  add(a2ma11, MA11);
  FileInfo re09 = dir(Info("FXRE09", "RE09"));
  re09.related = {"FXTA09"};
  add(re09, RE09);
  FileInfo alre09 = dir(Info("ALRE09", "ARE09", "FXRE09"));
  alre09.related = {"FXTA09"};
  add(alre09, RE09);
  add(dir(Info("FXTA01", "TA01")), TA01);
  FileInfo ta02 = dir(Info("FXTA02", "TA02"));
  ta02.code_field = "TA02:CODRUB";
  ta02.code_key = "TA02:TA02_CP";
  add(ta02, TA02);
  FileInfo ta09 = dir(Info("FXTA09", "TA09"));
  ta09.code_field = "TA09:GRUAGE";
  ta09.code_key = "TA09:TA09_CP";
  add(ta09, TA09);

  // Files of the suite's main program: never created here.
  for (const char* n : {"MO01", "MO02"}) {
    const std::string num(n);
    FileInfo s = Info("FX" + num, num);
    s.default_name = std::string(kDataFolder) + s.label + ".VTR";
    s.name_var = s.label;
    s.related = {"AL" + num, "FXTR" + num.substr(2)};
    add(s, [num](const std::string& p) { return Calls(p, num); });
    FileInfo a = Info("AL" + num, "A" + num, "FX" + num);
    a.default_name = s.default_name;
    a.name_var = s.label;
    add(a, [num](const std::string& p) { return Calls(p, num); });
  }
  for (const char* n : {"TR01", "TR02"}) {
    const std::string num(n);
    FileInfo s = Info("FX" + num, num);
    s.default_name = std::string(kDataFolder) + s.label + ".VTR";
    s.name_var = s.label;
    add(s, [num](const std::string& p) { return Transfers(p, num); });
  }
  add(Info("FXMO04", "MO04"), MO04);
  add(Info("CENTRAL", "CENT"), CENT);

  FileInfo sal = Info("SALIDA", "SAL");
  sal.driver = kTextDriver;
  sal.default_name = std::string(kDataFolder) + "SALIDA.TXT";
  sal.name_var = "SALIDA";
  sal.movable = false;
  add(sal, SAL);

  // Staging tables of the text import.
  add(dir(Info("AUXAGRU", "ARUB")), AUXAGRU);
  add(dir(Info("AUXAGGR", "AGRU")), AUXAGGR);
  add(dir(Info("AUXAGEM", "AEMP")), AUXAGEM);
  add(dir(Info("AUXAGTE", "ATEE")),
      [](const std::string& p) { return StagedNumbers<AUXAGTERecord>(p, "AUXAGTE_CP"); });
  add(dir(Info("AUXAGCO", "ACON")), AUXAGCO);
  add(dir(Info("AUXAGTC", "ATEC")),
      [](const std::string& p) { return StagedNumbers<AUXAGTCRecord>(p, "AUXAGTC_CP"); });

  // The older DOS directory: read only, never created, in a folder of its
  // own; its texts are kept in the OEM code page (the driver hands them over
  // in the runtime's ANSI code page).
  for (const char* l : {"FXMA06DOS", "FXRE01DOS", "FXTA06DOS"}) {
    FileInfo s = Info(l, std::string(l).substr(2));
    s.name_var = l;
    s.default_name = std::string(kDosFolder) + s.label;
    Builder b = s.label == "FXMA06DOS"   ? Builder(MA06DOS)
                : s.label == "FXRE01DOS" ? Builder(RE01DOS)
                                         : Builder(TA06DOS);
    add(s, [b](const std::string& p) {
      FileDecl d = b(p);
      d.attributes |= kFileOem;
      return d;
    });
  }

  // Lookup files of the reports.
  add(Info("FXMA07", "MA07"), [](const std::string& p) {
    using R = MA07Record;
    return Lookup<R>(p, {NV_FIELD(R, NROLIN), NV_FIELD(R, DESLIN), NV_FIELD(R, MULTISEL)},
                     "NROLIN");
  });
  add(Info("FXMA08", "MA08"), [](const std::string& p) {
    using R = MA08Record;
    return Lookup<R>(p, {NV_FIELD(R, NROINT), NV_FIELD(R, DESINT), NV_FIELD(R, MULTISEL)},
                     "NROINT");
  });
  add(Info("FXMA09", "MA09"), [](const std::string& p) {
    using R = MA09Record;
    return Lookup<R>(p, {NV_FIELD(R, NROCTA), NV_FIELD(R, DESCTA), NV_FIELD(R, MULTISEL)}, "NROCTA",
                     {Key(p, "MA09_C1", {"DESCTA"}, kDup)});
  });
  add(Info("FXMA02", "MA02"), [](const std::string& p) {
    using R = MA02Record;
    return Lookup<R>(
        p, {NV_FIELD(R, CODAGT), NV_FIELD(R, CODGRU), NV_FIELD(R, DESCRI), NV_FIELD(R, MULTISEL)},
        "CODAGT");
  });
  add(Info("FXTA14", "TA14"), [](const std::string& p) {
    using R = TA14Record;
    return Lookup<R>(p, {NV_FIELD(R, GRULIN), NV_FIELD(R, DESGRU)}, "GRULIN");
  });
  add(Info("FXTA15", "TA15"), [](const std::string& p) {
    using R = TA15Record;
    return Lookup<R>(p, {NV_FIELD(R, GRUINT), NV_FIELD(R, DESGRU)}, "GRUINT");
  });
  add(Info("FXTA13", "TA13"), [](const std::string& p) {
    using R = TA13Record;
    return Lookup<R>(p, {NV_FIELD(R, GRUCTA), NV_FIELD(R, DESGRU)}, "GRUCTA");
  });
  add(Info("FXTA03", "TA03"), [](const std::string& p) {
    using R = TA03Record;
    return Lookup<R>(p, {NV_FIELD(R, CODGRU), NV_FIELD(R, DESGRU)}, "CODGRU");
  });
  return e;
}

const std::vector<Entry>& Entries() {
  static const std::vector<Entry> entries = BuildEntries();
  return entries;
}

bool SameLabel(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

const Entry* FindEntry(std::string_view label) {
  for (const Entry& e : Entries()) {
    if (SameLabel(e.info.label, label)) return &e;
  }
  return nullptr;
}

}  // namespace

const std::vector<FileInfo>& Catalogue() {
  static const std::vector<FileInfo> infos = [] {
    std::vector<FileInfo> v;
    for (const Entry& e : Entries()) v.push_back(e.info);
    return v;
  }();
  return infos;
}

const FileInfo* FindFileInfo(std::string_view label) {
  for (const FileInfo& s : Catalogue()) {
    if (SameLabel(s.label, label)) return &s;
  }
  return nullptr;
}

FileDecl DefaultDecl(std::string_view label) {
  const Entry* e = FindEntry(label);
  if (e == nullptr) return FileDecl{};
  FileDecl d = e->build(e->info.prefix);
  d.label = e->info.label;
  d.driver = e->info.driver;
  d.name = e->info.default_name;
  return d;
}

}  // namespace nv::dict
