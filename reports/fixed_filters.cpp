#include "reports/fixed_filters.h"

#include "host/dictionary/dictionary.h"
#include "host/dictionary/services.h"
#include "host/runtime/codepage.h"
#include "host/runtime/driver_interface.h"
#include "host/runtime/expr.h"
#include "host/runtime/file.h"
#include "host/runtime/picture.h"
#include "reports/detail_report.h"
#include "reports/output.h"

namespace fxr4 {

namespace {

using nv::dict::CallRecord;

std::string A(std::string_view utf8) {
  return nv::AnsiFromUtf8(utf8);
}

std::string Replace(std::string text, std::string_view prefix) {
  for (size_t at = text.find("MO01"); at != std::string::npos; at = text.find("MO01", at + 4)) {
    text.replace(at, 4, prefix);
  }
  return text;
}

std::string Dates(const Window& w, bool with_times) {
  if (with_times && w.timed()) {
    return "desde el " + nv::FormatDate("@D6", w.desfec) + " a las " +
           nv::FormatTime("@T4", w.deshor) + " hasta el " + nv::FormatDate("@D6", w.hasfec) +
           " a las " + nv::FormatTime("@T4", w.hashor);
  }
  return "desde el " + nv::FormatDate("@D6", w.desfec) + " hasta el " +
         nv::FormatDate("@D6", w.hasfec);
}

bool DatesSelect(const Window& w, const CallRecord& r) {
  const int32_t f = r.FECLLA.day();
  return w.desfec <= f && f <= w.hasfec;
}

}  // namespace

void SpecialHeadings(SpecialKind kind, Direction d, std::string_view option, const Window& w,
                     std::string_view curtab, std::string titles[3]) {
  const std::string prefix = d == Direction::kOutgoing ? "Informe de llamadas salientes - "
                                                       : "Informe de llamadas entrantes - ";
  const std::string tab(nv::Clip(curtab));
  std::string t1, t2;
  switch (kind) {
    case SpecialKind::kFree:
      t1 = "Informe de llamadas salientes - Gratuitas Por Fecha -";
      t2 = Dates(w, false);
      break;
    case SpecialKind::kUnrated:
      t1 = "Informe de llamadas salientes - No Tarifadas por Fecha -";
      t2 = Dates(w, false);
      break;
    case SpecialKind::kDirectory: {
      const std::string word = nv::Clip(option) == "N" ? "No Agendadas" : "Agendadas";
      t1 = tab == "Todas" ? prefix + word + " -" : prefix + tab + " " + word + " -";
      t2 = Dates(w, true);
      break;
    }
    case SpecialKind::kRequirement: {
      const bool out = d == Direction::kOutgoing;
      if (tab == "Todas") {
        t1 = out ? "Informe de llamadas salientes - Por Requerimiento -"
                 : "Informe de llamadas entrantes - Por Requerimientos -";
      } else {
        t1 = prefix + tab + (out ? " por Requerimiento -" : " por Requerimientos -");
      }
      t2 = Dates(w, true);
      break;
    }
    case SpecialKind::kNone:
      break;
  }
  // The titles are Windows-1252 like CURTAB; the literals are plain ASCII.
  titles[0] = std::string(nv::String<100>(A(t1)).clipped());
  titles[1] = std::string(nv::String<100>(t2).clipped());
  titles[2].clear();
}

std::string DirectoryFilter(std::string_view prefix, std::string_view option) {
  return Replace(nv::Clip(option) == "N" ? "MO01:CODIGO = 0" : "MO01:CODIGO > 0", prefix);
}

std::string RequirementFilter(std::string_view prefix, bool typed) {
  std::string t = "(NOT(MO01:TIPOLLA = 'NT') AND ";
  if (typed) t += "MO01:TIPOLLA = Loc:Tipo AND ";
  t += "(((MO01:FECLLA = DesFec AND MO01:HORLLA >= DesHor) OR MO01:FECLLA > DesFec) AND "
       "(MO01:FECLLA < HASFEC OR (MO01:FECLLA = HasFec AND MO01:HORLLA <= HasHor))) AND "
       "INRANGE(MO01:DURLLA,DesDur,HasDur) AND (MA07:MULTISEL = 1) AND (MA08:MULTISEL = 1) AND "
       "INRANGE(MO01:COSLLA,DesCos,HasCos) AND ((Opciones_Agenda = 'Ag' AND MO01:CODIGO > 0) OR "
       "(Opciones_Agenda = 'No' AND MO01:CODIGO = 0) OR (Opciones_Agenda = 'To')) AND "
       "((Opciones_Ctas = 'Se' AND MA09:MULTISEL = 1) OR (Opciones_Ctas = 'Si' AND MO01:NROCTA = "
       "0) OR (Opciones_Ctas = 'To')) AND ((Opciones_Agentes = 'Se' AND MA02:MULTISEL = 1) OR "
       "(Opciones_Agentes = 'Si' AND MO01:CODAGT = 0) OR (Opciones_Agentes = 'To')) AND ((DesNro "
       "= '' AND HasNro = '') OR ((NOT(DesNro = '') OR NOT(HasNro = '')) AND "
       "RANGO_STRING(MO01:NROTEL,DesNro,HasNro))) )";
  return Replace(t, prefix);
}

bool FreeSelects(std::string_view loc_tipo, const Window& w, const CallRecord& r) {
  return DatesSelect(w, r) && TypeSelects(loc_tipo, r.TIPOLLA.view()) && r.TIPOLLA == "ES" &&
         r.COSLLA == 0;
}

bool UnratedSelects(const Window& w, const CallRecord& r) {
  return DatesSelect(w, r) && r.TIPOLLA == "NT";
}

bool DirectorySelects(std::string_view option, std::string_view loc_tipo, const Window& w,
                      const CallRecord& r) {
  if (!CallSelects(loc_tipo, w, r)) return false;
  // Any option but "N" reads as "A", as the headings and the filter text
  // read it.
  return nv::Clip(option) == "N" ? r.CODIGO == 0 : r.CODIGO >= 1;
}

bool AccountIsZero(std::string_view nrocta) {
  // The rule of the filter evaluator: a blank or plain-number text compares
  // with a number numerically.
  nv::expr::Scalar text;
  text.is_text = true;
  text.text = nrocta;
  nv::expr::Scalar zero;
  return nv::expr::CompareScalars(text, zero) == 0;
}

RequirementSelection::RequirementSelection(const nv::dict::Dictionary& dict,
                                           const PARAM_RPT_REQUE& block)
    : b_(block) {
  auto open = [&](const char* label) {
    std::unique_ptr<nv::File> f = dict.NewFile(label);
    if (f != nullptr && f->Open(nv::kReadOnly | nv::kDenyNone) != 0) f.reset();
    return f;
  };
  ma07_ = open("FXMA07");
  ma08_ = open("FXMA08");
  ma09_ = open("FXMA09");
  ma02_ = open("FXMA02");
}

RequirementSelection::~RequirementSelection() = default;

// field_kind: 7 line, 8 extension, 9 account, 2 agent.
bool RequirementSelection::Marked(nv::File* f, const char* key, int field_kind,
                                  const CallRecord& r) {
  if (f == nullptr) return false;
  switch (field_kind) {
    case 7:
      f->As<nv::dict::MA07Record>() = {};
      f->As<nv::dict::MA07Record>().NROLIN = r.NROLIN.view();
      break;
    case 8:
      f->As<nv::dict::MA08Record>() = {};
      f->As<nv::dict::MA08Record>().NROINT = r.NROINT.view();
      break;
    case 9:
      f->As<nv::dict::MA09Record>() = {};
      f->As<nv::dict::MA09Record>().NROCTA = r.NROCTA.view();
      break;
    default:
      f->As<nv::dict::MA02Record>() = {};
      f->As<nv::dict::MA02Record>().CODAGT = r.CODAGT;
      break;
  }
  nv::KeyDecl* k = f->key(key);
  if (k == nullptr || f->Get(k) != 0) return false;
  switch (field_kind) {
    case 7:
      return f->As<nv::dict::MA07Record>().MULTISEL == 1;
    case 8:
      return f->As<nv::dict::MA08Record>().MULTISEL == 1;
    case 9:
      return f->As<nv::dict::MA09Record>().MULTISEL == 1;
    default:
      return f->As<nv::dict::MA02Record>().MULTISEL == 1;
  }
}

bool RequirementSelection::Selects(std::string_view loc_tipo, const Window& w,
                                   const CallRecord& r) {
  // a. type and window
  if (!CallSelects(loc_tipo, w, r)) return false;
  // b. duration, then cost
  if (!(b_.DESDUR <= r.DURLLA && r.DURLLA <= b_.HASDUR)) return false;
  if (!(b_.DESCOS <= r.COSLLA && r.COSLLA <= b_.HASCOS)) return false;
  // c. number
  if (!b_.DESNRO.empty() || !b_.HASNRO.empty()) {
    if (!nv::dict::RANGO_STRING(r.NROTEL.view(), b_.DESNRO.view(), b_.HASNRO.view())) return false;
  }
  // d. line and extension marked
  if (!Marked(ma07_.get(), "MA07:MA07_CP", 7, r)) return false;
  if (!Marked(ma08_.get(), "MA08:MA08_CP", 8, r)) return false;
  // e. accounts
  const std::string_view ctas = b_.OPCIONES_CTAS.view();
  const bool ctas_ok = (ctas == "Se" && Marked(ma09_.get(), "MA09:MA09_CP", 9, r)) ||
                       (ctas == "Si" && AccountIsZero(r.NROCTA.view())) || ctas == "To";
  if (!ctas_ok) return false;
  // f. agents
  const std::string_view agt = b_.OPCIONES_AGENTES.view();
  const bool agt_ok = (agt == "Se" && Marked(ma02_.get(), "MA02:MA02_CP", 2, r)) ||
                      (agt == "Si" && r.CODAGT == 0) || agt == "To";
  if (!agt_ok) return false;
  // g. directory
  const std::string_view age = b_.OPCIONES_AGENDA.view();
  return (age == "Ag" && r.CODIGO > 0) || (age == "No" && r.CODIGO == 0) || age == "To";
}

std::string RequirementAsRpt(const PARAM_RPT_REQUE& b) {
  PARAM_RPT r;
  CopyBlock(&r, sizeof r, nullptr, 0);
  r.DESFEC = b.DESFEC;
  r.HASFEC = b.HASFEC;
  r.DESHOR = b.DESHOR;
  r.HASHOR = b.HASHOR;
  r.LLASAL = b.LLASAL;
  r.LLAENT = b.LLAENT;
  r.CURTAB = b.CURTAB.view();
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

}  // namespace fxr4

namespace fxr4 {

RunResult RunSpecialDetail(const DetailProc& proc, std::string_view option, std::string_view block,
                           std::string_view opc, RunOptions options) {
  const SpecialKind kind = SpecialOf(proc.name);
  const std::string opt(option.substr(0, 1));
  const nv::dict::Dictionary* dict = options.dict ? options.dict : LibraryDictionary();
  std::string rpt(block);
  if (kind == SpecialKind::kFree || kind == SpecialKind::kUnrated) {
    // Selected by dates alone: the walk takes whole days, whatever times
    // the block carries (their headings never show one).
    PARAM_RPT b = CopiedBlock<PARAM_RPT>(block);
    b.DESHOR = 0;
    b.HASHOR = 0;
    rpt.assign(reinterpret_cast<const char*>(&b), sizeof b);
  }
  std::unique_ptr<RequirementSelection> reque;
  if (kind == SpecialKind::kRequirement) {
    const PARAM_RPT_REQUE b = CopiedBlock<PARAM_RPT_REQUE>(block);
    rpt = RequirementAsRpt(b);
    if (dict != nullptr) reque = std::make_unique<RequirementSelection>(*dict, b);
  }
  options.headings = [&](const Window& w, std::string_view curtab, std::string titles[3]) {
    SpecialHeadings(kind, proc.direction, opt, w, curtab, titles);
  };
  options.selects = [&](std::string_view loc_tipo, const Window& w, const nv::dict::CallRecord& r) {
    switch (kind) {
      case SpecialKind::kFree:
        return FreeSelects(loc_tipo, w, r);
      case SpecialKind::kUnrated:
        return UnratedSelects(w, r);
      case SpecialKind::kDirectory:
        return DirectorySelects(opt, loc_tipo, w, r);
      case SpecialKind::kRequirement:
        return reque != nullptr && reque->Selects(loc_tipo, w, r);
      case SpecialKind::kNone:
        break;
    }
    return CallSelects(loc_tipo, w, r);
  };
  return RunDetail(proc, rpt, opc, options);
}

}  // namespace fxr4
