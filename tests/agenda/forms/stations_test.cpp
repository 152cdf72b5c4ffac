// Two stations over one directory file: another open of FXMA11 holds an
// entry, either in this process (a second open is a second station) or in
// a child process. The forms ask the retry question while the hold stands,
// open once it is released, and a company deletion leaves a contact held
// elsewhere in place.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "agenda/ficha_contacto.h"
#include "agenda/ficha_empresa.h"
#include "tests/agenda/forms/forms_fixture.h"

namespace formstest {
namespace {

using namespace nv::ui;
using agenda::Ficha_Contacto;
using agenda::Ficha_Empresa;

constexpr const char* kCompanyHeld = "La empresa está siendo modificado por otro usuario.";
constexpr const char* kContactHeld = "El contacto está siendo modificado por otro usuario.";

// The other station. Hold answers the error of its read with hold.
class Station {
 public:
  virtual ~Station() = default;
  virtual int Hold(int32_t code) = 0;
  virtual void Release() = 0;
};

// A second open of the file in this process.
class SameProcess : public Station {
 public:
  explicit SameProcess(const nv::dict::Dictionary& dic) : file_(dic.NewFile("FXMA11")) {}
  ~SameProcess() override { file_->Close(); }
  int Hold(int32_t code) override {
    if (int err = file_->Open()) return err;
    file_->As<MA11Record>().CODIGO = code;
    file_->Hold(1);
    return file_->Get(file_->key("MA11:MA11_CP"));
  }
  void Release() override { file_->Release(); }

 private:
  std::unique_ptr<nv::File> file_;
};

// A child process with its own open: it holds the entry, reports the
// error of its read, waits for the word to release, releases, closes and
// answers once more.
class ChildProcess : public Station {
 public:
  explicit ChildProcess(const nv::dict::Dictionary& dic) : dic_(dic) {}
  ~ChildProcess() override {
    if (pid_ <= 0) return;
    Release();
    close(to_child_);
    close(from_child_);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  int Hold(int32_t code) override {
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0) return -1;
    pid_ = fork();
    if (pid_ < 0) return -1;
    if (pid_ == 0) {
      close(down[1]);
      close(up[0]);
      std::unique_ptr<nv::File> f = dic_.NewFile("FXMA11");
      int err = f->Open();
      if (err == 0) {
        f->As<MA11Record>().CODIGO = code;
        f->Hold(1);
        err = f->Get(f->key("MA11:MA11_CP"));
      }
      const char answer = char(err);
      char word = 0;
      if (write(up[1], &answer, 1) == 1 && read(down[0], &word, 1) == 1) {
        f->Release();
        f->Close();
        [[maybe_unused]] ssize_t n = write(up[1], &answer, 1);
      }
      _exit(0);
    }
    close(down[0]);
    close(up[1]);
    to_child_ = down[1];
    from_child_ = up[0];
    char answer = -1;
    if (!Await(&answer)) return -1;
    return answer;
  }
  void Release() override {
    if (released_ || pid_ <= 0) return;
    released_ = true;
    const char word = 'R';
    char answer = 0;
    if (write(to_child_, &word, 1) == 1) Await(&answer);
  }

 private:
  bool Await(char* c) {
    pollfd p{from_child_, POLLIN, 0};
    return poll(&p, 1, 20000) == 1 && read(from_child_, c, 1) == 1;
  }
  const nv::dict::Dictionary& dic_;
  pid_t pid_ = 0;
  int to_child_ = -1, from_child_ = -1;
  bool released_ = false;
};

enum class Where { kSameProcess, kChildProcess };

class StationsTest : public FormsTest, public ::testing::WithParamInterface<Where> {
 protected:
  // The other station, holding entry `code`.
  std::unique_ptr<Station> HoldElsewhere(int32_t code) {
    std::unique_ptr<Station> s;
    if (GetParam() == Where::kSameProcess) {
      s = std::make_unique<SameProcess>(*dic_);
    } else {
      s = std::make_unique<ChildProcess>(*dic_);
    }
    EXPECT_EQ(s->Hold(code), 0);
    return s;
  }
  // A read with hold by this station: 0, or 43 while another holds it.
  int TryHold(int32_t code) {
    std::unique_ptr<nv::File> f = dic_->NewFile("FXMA11");
    int err = f->Open();
    if (err == 0) {
      f->As<MA11Record>().CODIGO = code;
      f->Hold(1);
      err = f->Get(f->key("MA11:MA11_CP"));
      f->Release();
    }
    f->Close();
    return err;
  }
  // Releases the other station once the first message box has been shown.
  std::thread ReleaseAfterFirstMessage(Station* other) {
    return std::thread([this, other] {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (ui_->messages().empty() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      other->Release();
    });
  }
};

TEST_P(StationsTest, AnotherStationsHoldIsSeenAndEndsWithItsRelease) {
  const int32_t acme = AddEntry("Acme", "E");
  std::unique_ptr<Station> other = HoldElsewhere(acme);
  EXPECT_EQ(TryHold(acme), 43);
  other->Release();
  EXPECT_EQ(TryHold(acme), 0);
}

TEST_P(StationsTest, AHeldCompanyAsksUntilReleasedThenOpens) {
  const int32_t acme = AddEntry("Acme", "E");
  std::unique_ptr<Station> other = HoldElsewhere(acme);
  std::thread releaser = ReleaseAfterFirstMessage(other.get());
  bool opened = false;
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    opened = true;
    EXPECT_EQ(w.Text(agenda::kFcNombre), "Acme");
    Press(w, agenda::kFcCancelar);
  });
  // Unanswered questions take their default "&Reintentar".
  EXPECT_EQ(Ficha_Empresa("M", acme), kCancelled);
  releaser.join();
  EXPECT_TRUE(opened);
  const auto messages = ui_->messages();
  ASSERT_GE(messages.size(), 1u);
  for (const auto& m : messages) {
    EXPECT_EQ(m.shape.text, A(kCompanyHeld));
    EXPECT_EQ(m.shape.caption, A("Atención"));
    EXPECT_EQ(m.shape.buttons, (std::vector<std::string>{"&Cancelar", "&Reintentar"}));
    EXPECT_EQ(m.shape.default_button, 2);
  }
}

TEST_P(StationsTest, EachRetryReadsAgainAndCancelOpensNothing) {
  const int32_t acme = AddEntry("Acme", "E");
  std::unique_ptr<Station> other = HoldElsewhere(acme);
  ui_->QueueAnswer(2);  // "&Reintentar"
  ui_->QueueAnswer(2);
  ui_->QueueAnswer(1);  // "&Cancelar"
  EXPECT_EQ(Ficha_Empresa("B", acme), kCancelled);
  EXPECT_EQ(Count("Ficha de la empresa"), 0);
  EXPECT_EQ(CountText(kCompanyHeld), 3);
  // Nothing was deleted, and the other station still holds the company.
  EXPECT_TRUE(HasEntry(acme));
  EXPECT_EQ(TryHold(acme), 43);
}

TEST_P(StationsTest, AHeldContactAsksWithTheContactText) {
  const int32_t acme = AddEntry("Acme", "E");
  const int32_t ana = AddEntry("Ana", "C", acme);
  std::unique_ptr<Station> other = HoldElsewhere(ana);
  ui_->QueueAnswer(1);
  EXPECT_EQ(Ficha_Contacto("M", ana), kCancelled);
  EXPECT_EQ(Count("Ficha de Contactos"), 0);
  EXPECT_EQ(CountText(kContactHeld), 1);
}

TEST_P(StationsTest, AnOpenFormHoldsItsEntryUntilItCloses) {
  const int32_t acme = AddEntry("Acme", "E");
  int while_open = -1;
  ui_->OnOpen("Ficha de la empresa", [&](Window& w) {
    // The other station cannot hold it while the form is open.
    std::unique_ptr<Station> other = GetParam() == Where::kSameProcess
                                         ? std::unique_ptr<Station>(new SameProcess(*dic_))
                                         : std::unique_ptr<Station>(new ChildProcess(*dic_));
    while_open = other->Hold(acme);
    Press(w, agenda::kFcCancelar);
  });
  EXPECT_EQ(Ficha_Empresa("M", acme), kCancelled);
  EXPECT_EQ(while_open, 43);
  std::unique_ptr<Station> after = HoldElsewhere(acme);  // expects 0
}

TEST_P(StationsTest, AContactHeldElsewhereStaysWhenItsCompanyIsDeleted) {
  const int32_t acme = AddEntry("Acme", "E");
  const int32_t ana = AddEntry("Ana", "C", acme);
  const int32_t beto = AddEntry("Beto", "C", acme);
  AddNumber(ana, "0351111");
  AddNumber(beto, "0351222");
  std::unique_ptr<Station> other = HoldElsewhere(ana);
  ui_->OnOpen("Ficha de la empresa", [](Window& w) { Press(w, agenda::kFcAceptar); });
  ui_->QueueAnswer(1);  // delete the company
  ui_->QueueAnswer(1);  // Ana held: the message
  ui_->QueueAnswer(1);  // Beto: delete
  EXPECT_EQ(Ficha_Empresa("B", acme), kCompleted);
  other->Release();
  EXPECT_FALSE(HasEntry(acme));
  Entry e;
  ASSERT_TRUE(HasEntry(ana, &e));
  EXPECT_EQ(e.codemp, acme);  // still pointing to the deleted company
  EXPECT_FALSE(HasEntry(beto));
  const auto numbers = Numbers();
  EXPECT_EQ(numbers.count("0351111"), 1u);  // the held contact keeps its numbers
  EXPECT_EQ(numbers.count("0351222"), 0u);
  EXPECT_EQ(CountText(" El contacto Ana esta siendo modificado por otro usuario.|               "
                      "No puede ser borrado."),
            1);
  EXPECT_EQ(CountText(" Desea borrar el contacto Beto ?"), 1);
  // The held contact's record is whole and can be held once released.
  EXPECT_EQ(TryHold(ana), 0);
}

INSTANTIATE_TEST_SUITE_P(Stations, StationsTest,
                         ::testing::Values(Where::kSameProcess, Where::kChildProcess),
                         [](const auto& info) {
                           return info.param == Where::kSameProcess ? std::string("SameProcess")
                                                                    : std::string("ChildProcess");
                         });

}  // namespace
}  // namespace formstest
