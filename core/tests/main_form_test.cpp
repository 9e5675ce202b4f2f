// Tests of MainForm with a recording face and a recording PDF writer, against a loopback server
// that plays the mirror, the patent office's search page, the update service and the page images.
#include "core/main_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cipher/rsa.h"
#include "common/atomic_file.h"
#include "common/run_lock.h"
#include "common/tests/test_files.h"
#include "common/text.h"
#include "core/call_queue.h"
#include "download/tests/page_server.h"
#include "download/tests/tiff_sample.h"
#include "http/net/tests/scripted_peer.h"
#include "protocol/service_protocol.h"

namespace brevis {
namespace {

using test::ReadFile;

namespace fs = std::filesystem;

// The texts of the lookup's message boxes.
const std::u16string kDownloadProblem = u"下载问题";
const std::u16string kMirrorFailed =
    u"下载遇到问题，可能的原因是: \r\r网络问题，请检查您是否已经正常连接到互联网。";
const std::u16string kSearchFailed =
    u"下载遇到问题，可能的原因是: \r\r1. 网络问题，请检查您是否已经正常连接到互联网；\r2. "
    u"近期国家知识产权局网站访问速度缓慢，容易发生中断，请稍后再次下载。\r\r针对第2个问题，"
    u"Tesvaro正在建设镜像下载站点，建设完成后您的下载速度将极大提高。";
const std::u16string kNothingFoundCaption = u"未发现全文下载";
const std::u16string kNothingFound =
    u"未发现全文下载，可能的原因是：\r\r您输入了错误的专利申请号，请检查后重新输入。";

struct ShownBox {
  std::u16string text;
  std::u16string caption;
  int flags;
};

// Records what the core asks of its face and checks that it asks on the window's thread, which
// is the test's thread running `window`.
class RecordingFace final : public MainFormFace {
 public:
  void SetPictureVisible(FacePicture picture, bool visible) override {
    OnWindowThread();
    pictures[picture] = visible;
    static const char* const kNames[] = {"imgValid", "imgNotValid", "imgDownload", "imgGk"};
    events.push_back(std::string(visible ? "show " : "hide ") + kNames[picture]);
  }
  void SetNotValidHint(const std::u16string& hint) override {
    OnWindowThread();
    notValidHint = hint;
  }
  void SetPdfPath(const std::u16string& path) override {
    OnWindowThread();
    pdfPath = path;
  }
  void SetEntryEnabled(bool enabled) override {
    OnWindowThread();
    entryEnabled = enabled;
    events.push_back(enabled ? "entry on" : "entry off");
  }
  void SetProgressRange(FaceProgressBar bar, int maximum) override {
    OnWindowThread();
    ranges[bar] = maximum;
    positions[bar] = 0;
    events.push_back(std::string("range ") + BarName(bar) + " " + std::to_string(maximum));
  }
  void SetProgressPosition(FaceProgressBar bar, int position) override {
    OnWindowThread();
    positions[bar] = position;
    events.push_back(std::string("pos ") + BarName(bar) + " " + std::to_string(position));
  }
  void Repaint() override {
    OnWindowThread();
    events.push_back("repaint");
  }
  int MessageBox(const std::u16string& text, const std::u16string& caption, int flags) override {
    OnWindowThread();
    boxes.push_back({text, caption, flags});
    events.push_back("box " + Utf16ToUtf8(caption));
    if (answers.empty()) return 1;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShellOpen(const std::u16string& target, ShowState state) override {
    OnWindowThread();
    opens.push_back({target, state});
  }
  void RunOnWindowThread(std::function<void()> call) override { window.Post(std::move(call)); }

  static const char* BarName(FaceProgressBar bar) {
    return bar == prbDownload ? "prbDownload" : "prbCombine";
  }
  // Positions `bar` was set to, in order.
  std::vector<int> PositionsOf(FaceProgressBar bar) const {
    std::vector<int> out;
    const std::string prefix = std::string("pos ") + BarName(bar) + " ";
    for (const std::string& e : events) {
      if (e.rfind(prefix, 0) == 0) out.push_back(std::stoi(e.substr(prefix.size())));
    }
    return out;
  }

  CallQueue window;
  std::thread::id windowThread = std::this_thread::get_id();
  bool offThread = false;
  std::vector<std::string> events;
  std::vector<ShownBox> boxes;
  std::vector<std::pair<std::u16string, ShowState>> opens;
  std::deque<int> answers;  // answers to message boxes; OK (1) when none is left
  std::map<FacePicture, bool> pictures;
  std::u16string notValidHint;
  std::u16string pdfPath;
  bool entryEnabled = true;
  std::map<FaceProgressBar, int> ranges;
  std::map<FaceProgressBar, int> positions;

 private:
  void OnWindowThread() {
    if (std::this_thread::get_id() != windowThread) offThread = true;
  }
};

// What the combination asked of the PDF writer; shared with the test, since the form owns the
// writer.
struct CombinerLog {
  std::mutex lock;
  std::vector<std::string> calls;      // "begin <file>", "page", "tiff <file>", "end"
  std::vector<std::string> pageBytes;  // contents of each page file when it was added
  std::thread::id thread;
  std::string failOn;  // a call that throws, e.g. "tiff gk_000002.tif"
  int begins = 0;
  std::u16string subject;             // of the last document begun
  std::vector<std::string> prepared;  // files handed to PreparePage, in any order
  bool preparedOffThread = true;      // every PreparePage ran off the window's thread
  std::thread::id windowThread;
  int drops = 0;
  std::vector<std::string> languages;        // each SetTextLanguages, in order
  std::string missingLanguages;              // SetTextLanguages throws for these
  std::vector<std::string> recognised;       // files handed to RecognisePages
  std::vector<Combiner::UnreadPage> unread;  // what UnreadPages answers
};

class RecordingCombiner final : public Combiner {
 public:
  explicit RecordingCombiner(std::shared_ptr<CombinerLog> log) : log_(std::move(log)) {}
  void BeginDoc(const std::u16string& file_name, const std::u16string& subject) override {
    Record("begin " + Utf16ToUtf8(file_name));
    std::lock_guard<std::mutex> guard(log_->lock);
    log_->subject = subject;
    ++log_->begins;
  }
  void AddPage() override { Record("page"); }
  void AddTiffFromFile(const std::u16string& file_name) override {
    const std::string path = Utf16ToUtf8(file_name);
    {
      std::ifstream in(path, std::ios::binary);
      std::lock_guard<std::mutex> guard(log_->lock);
      log_->pageBytes.emplace_back(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
    }
    Record("tiff " + fs::path(path).filename().string());
  }
  void EndDoc() override { Record("end"); }
  void PreparePage(const std::u16string& file_name) override {
    std::lock_guard<std::mutex> guard(log_->lock);
    log_->prepared.push_back(fs::path(Utf16ToUtf8(file_name)).filename().string());
    if (std::this_thread::get_id() == log_->windowThread) log_->preparedOffThread = false;
  }
  void DropPreparedPages() override {
    std::lock_guard<std::mutex> guard(log_->lock);
    ++log_->drops;
  }
  void SetTextLanguages(const std::string& languages) override {
    std::lock_guard<std::mutex> guard(log_->lock);
    if (!languages.empty() && languages == log_->missingLanguages) {
      throw OcrError("The recognition language " + languages + " is not installed.");
    }
    log_->languages.push_back(languages);
  }
  void RecognisePages(const std::vector<std::u16string>& file_names) override {
    std::lock_guard<std::mutex> guard(log_->lock);
    for (const std::u16string& file : file_names) {
      log_->recognised.push_back(fs::path(Utf16ToUtf8(file)).filename().string());
    }
  }
  std::vector<UnreadPage> UnreadPages() const override {
    std::lock_guard<std::mutex> guard(log_->lock);
    return log_->unread;
  }

 private:
  void Record(const std::string& call) {
    std::lock_guard<std::mutex> guard(log_->lock);
    log_->thread = std::this_thread::get_id();
    if (call == log_->failOn) throw std::runtime_error("Cannot read " + call.substr(5) + ".");
    log_->calls.push_back(call);
  }
  std::shared_ptr<CombinerLog> log_;
};

// The base address of a loopback port bound but not listening: a connect to it is refused.
std::u16string RefusingBase(const test::RefusingPort& port) {
  return Utf8ToUtf16("http://127.0.0.1:" + std::to_string(port.Port()));
}

// Holds every page request in the server (for up to 20 s) until released. Shared with the
// server's threads, which may still be leaving it when a test's body ends.
class PageHold {
 public:
  // Runs on a server thread for each page request.
  void Enter() {
    std::unique_lock<std::mutex> guard(lock_);
    ++held_;
    changed_.notify_all();
    changed_.wait_for(guard, std::chrono::seconds(20), [&] { return released_; });
  }
  // Waits (up to 10 s) until `count` requests are held at once or have been.
  bool WaitUntilHeld(int count) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(10), [&] { return held_ >= count; });
  }
  void Release() {
    std::lock_guard<std::mutex> guard(lock_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int held_ = 0;
  bool released_ = false;
};

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest()
      : dir_(test::FreshTestDir("main_form_test")),
        server_([this](const std::string& target) { return Answer(target); }),
        cipher_(kAppKeyN, kAppKeyE, kAppKeyD) {
    fs::create_directories(dir_ / "repo");
    form_ = MakeForm(Utf8ToUtf16(server_.Base()));
  }
  ~MainFormTest() override {
    form_.reset();
    fs::remove_all(dir_);
  }

  std::unique_ptr<MainForm> MakeForm(const std::u16string& server, bool resume = false,
                                     const std::function<void(MainFormSettings&)>& adjust = {}) {
    MainFormSettings settings;
    settings.RootDir = Utf8ToUtf16((dir_ / "repo").string());
    settings.Server = server;
    settings.PatentOffice = Utf8ToUtf16(server_.Base());
    settings.Retries.FirstPause = std::chrono::milliseconds(1);
    settings.Retries.MaxPause = std::chrono::milliseconds(4);
    settings.Resume = resume;
    if (adjust) adjust(settings);
    log_->windowThread = std::this_thread::get_id();
    return std::make_unique<MainForm>(face_, std::make_unique<RecordingCombiner>(log_), settings);
  }

  // The mirror answers `plain` enciphered; the empty text gives an empty body.
  void MirrorSays(const std::u16string& plain) {
    SetMirror({200, Utf16ToUtf8(cipher_.Encrypt(plain))});
  }
  void SetMirror(test::Reply reply) {
    std::lock_guard<std::mutex> guard(lock_);
    mirror_ = std::move(reply);
  }
  void SetSearch(test::Reply reply) {
    std::lock_guard<std::mutex> guard(lock_);
    search_ = std::move(reply);
  }
  void SetUpdate(test::Reply reply) {
    std::lock_guard<std::mutex> guard(lock_);
    update_ = std::move(reply);
  }
  // The next `count` requests of the mirror, or of the search page, get `reply`.
  void LimitLookups(int count, test::Reply reply, bool search = false) {
    std::lock_guard<std::mutex> guard(lock_);
    limitedLookups_ = count;
    limitSearch_ = search;
    limitedReply_ = std::move(reply);
  }
  // Runs before a page is served; may replace the reply.
  void SetPageHook(std::function<void(int page, test::Reply&)> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    pageHook_ = std::move(hook);
  }
  // From now on every page request is held until the hold is released.
  std::shared_ptr<PageHold> HoldPages() {
    auto hold = std::make_shared<PageHold>();
    SetPageHook([hold](int, test::Reply&) { hold->Enter(); });
    return hold;
  }

  std::u16string PageBase() const { return Utf8ToUtf16(server_.Base() + "/pages/CN"); }

  // Recognises `number`, clicks download, and runs the window's thread until the form is idle.
  void Download(const std::u16string& number) {
    form_->edtApnChange(number);
    ASSERT_TRUE(form_->valid());
    form_->btnDownloadClick();
    ASSERT_TRUE(face_.window.RunUntil([&] { return !form_->Busy(); }, std::chrono::seconds(60)));
    face_.window.RunPending();
    EXPECT_FALSE(face_.offThread);
  }

  fs::path Folder(const std::string& apn) const { return dir_ / "repo" / ("CN" + apn); }

  std::size_t PageRequests() const {
    std::size_t n = 0;
    for (const std::string& target : server_.Requests()) n += target.rfind("/pages/", 0) == 0;
    return n;
  }

  fs::path dir_;
  RecordingFace face_;
  std::shared_ptr<CombinerLog> log_ = std::make_shared<CombinerLog>();
  test::PageServer server_;
  RSA cipher_;
  std::unique_ptr<MainForm> form_;

 private:
  test::Reply Answer(const std::string& target) {
    std::unique_lock<std::mutex> lock(lock_);
    const bool mirror = target.rfind(protocol::MirrorTarget<char>({}), 0) == 0;
    const bool search = target.rfind(std::string(protocol::kSearchScript) + "?", 0) == 0;
    if ((limitSearch_ ? search : mirror) && limitedLookups_ > 0) {
      --limitedLookups_;
      return limitedReply_;
    }
    if (mirror) return mirror_;
    if (search) return search_;
    if (target.rfind(std::string(protocol::kUpdateScript) + "?", 0) == 0) return update_;
    if (target.rfind("/pages/", 0) == 0) {
      const int page = std::stoi(target.substr(target.size() - 10, 6));
      test::Reply reply{200, test::TiffSample(static_cast<uint32_t>(page))};
      const auto hook = pageHook_;
      lock.unlock();
      if (hook) hook(page, reply);
      return reply;
    }
    return {404, "no such page"};
  }

  std::mutex lock_;
  test::Reply mirror_{200, ""};
  test::Reply search_{200, "<html>nothing</html>"};
  test::Reply update_{200, ""};
  int limitedLookups_ = 0;
  bool limitSearch_ = false;
  test::Reply limitedReply_;
  std::function<void(int, test::Reply&)> pageHook_;
};

// Recognition.

TEST_F(MainFormTest, RecognisesTheEntryAndShowsItsState) {
  // RecogniseNumber's own cases are in recognised_number_test.cpp; here what the form keeps and
  // shows.
  struct Case {
    const char16_t* text;
    bool valid;
    const char16_t* apn;
    const char16_t* type;  // for a number that is not valid: the type kept from before
    char16_t right = 0;    // the right check character, for a number refused for a wrong one
  };
  const Case kCases[] = {
      {u"CN200710038426", true, u"200710038426", u"fmzl"},
      {u"200730001234", false, u"200730001234", u"fmzl"},  // fifth digit 3
      {u"zl200820001234.8", true, u"200820001234", u"syxx"},
      {u"", false, u"", u"syxx"},
      {u"ZL98120001.X", true, u"98120001", u"fmzl"},
      // A wrong check character.
      {u"882000011", false, u"88200001", u"fmzl", u'2'},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    face_.events.clear();
    form_->edtApnChange(c.text);
    EXPECT_EQ(form_->valid(), c.valid);
    EXPECT_EQ(form_->apn(), c.apn);
    EXPECT_EQ(form_->rightCheckCharacter(), c.right);
    // The cross's hint names the right check character, and is empty otherwise.
    EXPECT_EQ(face_.notValidHint.empty(), c.right == 0);
    if (c.right != 0) {
      EXPECT_NE(face_.notValidHint.find(c.right), std::u16string::npos);
    }
    EXPECT_EQ(form_->patent_type(), c.type);
    EXPECT_EQ(form_->patent_display_type(),
              std::u16string(c.type) == u"fmzl" ? u"发明专利" : u"实用新型专利");
    // Every change covers the open-PDF button first, then shows the number's state.
    const std::string covered = c.valid ? "hide" : "show";
    EXPECT_EQ(face_.events,
              (std::vector<std::string>{"show imgGk", c.valid ? "show imgValid" : "hide imgValid",
                                        c.valid ? "hide imgNotValid" : "show imgNotValid",
                                        covered + " imgDownload"}));
  }
}

// Lookup.

TEST_F(MainFormTest, EachLookupCauseIsOneMessageBoxAndAServiceFailureIsKept) {
  struct Case {
    const char* name;
    test::Reply mirror;
    test::Reply search;
    int pages;
    const char16_t* text;  // the box's text; null: no box
    const char16_t* caption;
    const char* failedTarget;  // the lookup cause's target after the server's base; null: none
  };
  const Case kCases[] = {
      {"found",
       {200, Utf16ToUtf8(cipher_.Encrypt(u"12\thttp://i"))},
       {},
       12,
       nullptr,
       nullptr,
       nullptr},
      {"mirror fails",
       {500, "down"},
       {},
       0,
       kMirrorFailed.c_str(),
       kDownloadProblem.c_str(),
       "/cgi-bin/fturl.cgi?s="},
      {"search page fails",
       {200, ""},
       {503, "busy"},
       0,
       kSearchFailed.c_str(),
       kDownloadProblem.c_str(),
       "/sipo/zljs/hyjs-yx-new.jsp?recid=CN200710038426"},
      {"nothing found",
       {200, ""},
       {200, "<html>nothing</html>"},
       0,
       kNothingFound.c_str(),
       kNothingFoundCaption.c_str(),
       nullptr},
      {"count above the cap",
       {200, Utf16ToUtf8(cipher_.Encrypt(u"10001\thttp://i"))},
       {},
       0,
       u"下载遇到问题，查询到的页数不合理（10001 页），可能是服务器的回答有误，请稍后再次下载。",
       kDownloadProblem.c_str(),
       nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    face_.boxes.clear();
    SetMirror(c.mirror);
    SetSearch(c.search);
    const ReRazavu r = form_->GetReRazavu(u"200710038426", u"fmzl");
    EXPECT_EQ(r.GkPages, c.pages);
    ASSERT_EQ(face_.boxes.size(), c.text != nullptr ? 1u : 0u);
    if (c.text != nullptr) {
      EXPECT_EQ(face_.boxes[0].text, c.text);
      EXPECT_EQ(face_.boxes[0].caption, c.caption);
      EXPECT_EQ(face_.boxes[0].flags, 64);
    }
    if (c.failedTarget == nullptr) {
      EXPECT_EQ(form_->lookupCause(), "");
    } else {
      EXPECT_EQ(form_->lookupCause().rfind(server_.Base() + c.failedTarget, 0), 0u)
          << form_->lookupCause();
    }
  }
}

TEST_F(MainFormTest, BrokenLookupAnswersEndInAMessageAndIdle) {
  struct Case {
    const char* name;
    std::string mirrorBody;
    const char16_t* caption;
    int flags;
  };
  const Case kCases[] = {
      {"mirror answers html", "<html><body>Bad gateway</body></html>", u"BREVISFETCH", 16},
      {"count beyond 32 bits", Utf16ToUtf8(cipher_.Encrypt(u"99999999999\thttp://i")),
       u"BREVISFETCH", 16},
      {"count above the cap", Utf16ToUtf8(cipher_.Encrypt(u"10001\thttp://i")), u"下载问题", 64},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    face_.boxes.clear();
    SetMirror({200, c.mirrorBody});
    Download(u"CN200710038426");
    ASSERT_EQ(face_.boxes.size(), 1u);
    EXPECT_EQ(face_.boxes[0].caption, c.caption);
    EXPECT_EQ(face_.boxes[0].flags, c.flags);
    EXPECT_TRUE(face_.entryEnabled);
    EXPECT_FALSE(face_.pictures[imgDownload]);
    EXPECT_TRUE(face_.pictures[imgGk]);
    EXPECT_FALSE(fs::exists(Folder("200710038426")));
    EXPECT_EQ(form_->WorkerCount(), 0u);
  }
  EXPECT_EQ(PageRequests(), 0u);
}

TEST_F(MainFormTest, NoPagesLeavesNoFolderAndNoWorker) {
  SetSearch({200, "<html>keine Treffer</html>"});
  Download(u"CN200710038426");
  ASSERT_EQ(face_.boxes.size(), 1u);
  EXPECT_EQ(face_.boxes[0].caption, kNothingFoundCaption);
  EXPECT_FALSE(fs::exists(Folder("200710038426")));
  EXPECT_EQ(form_->WorkerCount(), 0u);
  EXPECT_TRUE(face_.entryEnabled);
  EXPECT_FALSE(face_.pictures[imgDownload]);
  EXPECT_TRUE(face_.pictures[imgGk]);
  EXPECT_TRUE(log_->calls.empty());
}

// Download and combination.

TEST_F(MainFormTest, DownloadsAndCombinesTwelvePages) {
  MirrorSays(u"12\t" + PageBase());
  Download(u"CN200710038426");

  const std::string folder = Folder("200710038426").string();
  std::vector<std::string> expected_calls = {"begin " + folder + "/CN200710038426_gk.pdf"};
  std::vector<std::string> expected_bytes;
  for (int p = 1; p <= 12; ++p) {
    char name[32];
    std::snprintf(name, sizeof(name), "gk_%06d.tif", p);
    if (p > 1) expected_calls.push_back("page");
    expected_calls.push_back(std::string("tiff ") + name);
    expected_bytes.push_back(test::TiffSample(static_cast<uint32_t>(p)));
    EXPECT_EQ(ReadFile(Folder("200710038426") / name), expected_bytes.back());
    EXPECT_EQ(server_.Count("/pages/CN/" + std::string(name).substr(3)), 1u);
  }
  expected_calls.push_back("end");
  EXPECT_EQ(log_->calls, expected_calls);
  // The document names the patent.
  EXPECT_EQ(log_->subject, u"CN200710038426 发明专利申请公开说明书");
  EXPECT_EQ(log_->pageBytes, expected_bytes);
  EXPECT_NE(log_->thread, face_.windowThread);  // the combination runs off the window's thread

  // Busy state first; both bars run to 12 in order; then the PDF button and idle.
  EXPECT_EQ(std::vector<std::string>(face_.events.begin() + 4, face_.events.begin() + 10),
            (std::vector<std::string>{"entry off", "show imgDownload", "show imgGk",
                                      "pos prbDownload 0", "pos prbCombine 0", "repaint"}));
  EXPECT_EQ(face_.ranges[prbDownload], 12);
  EXPECT_EQ(face_.ranges[prbCombine], 12);
  const std::vector<int> one_to_twelve = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_EQ(face_.PositionsOf(prbDownload), one_to_twelve);
  EXPECT_EQ(face_.PositionsOf(prbCombine), one_to_twelve);
  EXPECT_FALSE(face_.pictures[imgGk]);
  EXPECT_FALSE(face_.pictures[imgDownload]);
  EXPECT_TRUE(face_.entryEnabled);
  EXPECT_TRUE(face_.boxes.empty());
  EXPECT_EQ(form_->WorkerCount(), 0u);

  face_.opens.clear();
  form_->btnGkClick();
  ASSERT_EQ(face_.opens.size(), 1u);
  EXPECT_EQ(Utf16ToUtf8(face_.opens[0].first), folder + "/CN200710038426_gk.pdf");
  // The open-PDF picture's hint names the same file.
  EXPECT_EQ(face_.pdfPath, face_.opens[0].first);
  EXPECT_EQ(face_.opens[0].second, swNormal);
}

TEST_F(MainFormTest, ReusesAnExistingFolderAndCombinesOnePageWithoutAddPage) {
  const fs::path folder = Folder("88100001");
  fs::create_directories(folder);
  std::ofstream(folder / "gk_000001.tif") << "a page of an earlier download";
  std::ofstream(folder / "notes.txt") << "kept";

  MirrorSays(u"1\t" + PageBase());
  Download(u"88100001");
  EXPECT_EQ(ReadFile(folder / "gk_000001.tif"), test::TiffSample(1));
  EXPECT_EQ(ReadFile(folder / "notes.txt"), "kept");
  EXPECT_EQ(log_->calls,
            (std::vector<std::string>{"begin " + folder.string() + "/CN88100001_gk.pdf",
                                      "tiff gk_000001.tif", "end"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

TEST_F(MainFormTest, PagesArePreparedForTheCombinationAsTheyArrive) {
  MirrorSays(u"7\t" + PageBase());
  Download(u"CN200710038426");
  std::vector<std::string> prepared = log_->prepared;
  std::sort(prepared.begin(), prepared.end());
  EXPECT_EQ(prepared, (std::vector<std::string>{"gk_000001.tif", "gk_000002.tif", "gk_000003.tif",
                                                "gk_000004.tif", "gk_000005.tif", "gk_000006.tif",
                                                "gk_000007.tif"}));
  EXPECT_TRUE(log_->preparedOffThread);
  // Forgotten when the download starts and once it has ended.
  EXPECT_EQ(log_->drops, 2);
}

TEST_F(MainFormTest, ResumeKeepsWholePagesAndFetchesTheRest) {
  form_ = MakeForm(Utf8ToUtf16(server_.Base()), /*resume=*/true);
  const fs::path folder = Folder("200710038426");
  fs::create_directories(folder);
  // Pages 1, 2 and 5 are whole; page 3 is an error page kept by an older version; page 4 was cut
  // off by a kill, leaving its temporary file.
  for (int p : {1, 2, 5}) {
    std::ofstream(folder / ("gk_00000" + std::to_string(p) + ".tif"), std::ios::binary)
        << test::TiffSample(static_cast<uint32_t>(100 + p));
  }
  std::ofstream(folder / "gk_000003.tif") << "<html>busy</html>";
  const std::string cut = TemporaryName((folder / "gk_000004.tif").string(), 4242, 1, 0xa1b2c3);
  const std::string notes = TemporaryName((folder / "notes.txt").string(), 4242, 2, 0xa1b2c3);
  std::ofstream(cut, std::ios::binary) << test::TiffSample(4).substr(0, 20);
  std::ofstream(notes) << "not a page";

  MirrorSays(u"6\t" + PageBase());
  Download(u"CN200710038426");
  EXPECT_TRUE(face_.boxes.empty());
  EXPECT_EQ(server_.Count("/pages/CN/000003.tif"), 1u);
  EXPECT_EQ(server_.Count("/pages/CN/000004.tif"), 1u);
  EXPECT_EQ(server_.Count("/pages/CN/000006.tif"), 1u);
  EXPECT_EQ(PageRequests(), 3u);
  EXPECT_FALSE(fs::exists(cut));
  EXPECT_TRUE(fs::exists(notes));
  // Kept pages keep their bytes; the combination takes all six, in order.
  EXPECT_EQ(log_->pageBytes, (std::vector<std::string>{
                                 test::TiffSample(101), test::TiffSample(102), test::TiffSample(3),
                                 test::TiffSample(4), test::TiffSample(105), test::TiffSample(6)}));
  // The bar starts at the pages kept.
  EXPECT_EQ(face_.PositionsOf(prbDownload), (std::vector<int>{0, 3, 4, 5, 6}));
  EXPECT_FALSE(face_.pictures[imgGk]);

  // With every page in place nothing is fetched, and the PDF is made all the same.
  log_->calls.clear();
  Download(u"CN200710038426");
  EXPECT_EQ(PageRequests(), 3u);
  EXPECT_EQ(log_->calls.size(), 13u);
  EXPECT_EQ(log_->calls.back(), "end");
  EXPECT_FALSE(face_.pictures[imgGk]);
  EXPECT_TRUE(face_.entryEnabled);
  EXPECT_EQ(form_->WorkerCount(), 0u);
}

TEST_F(MainFormTest, RacingWorkersCombineExactlyOnce) {
  // All five pages of a round are held back until the fifth request has arrived, so that the
  // five workers finish their pages at the same moment.
  std::mutex lock;
  std::condition_variable arrived;
  int waiting = 0;
  int round = 0;
  SetPageHook([&](int, test::Reply&) {
    std::unique_lock<std::mutex> guard(lock);
    const int my_round = round;
    if (++waiting == 5) {
      waiting = 0;
      ++round;
      arrived.notify_all();
    } else {
      arrived.wait_for(guard, std::chrono::seconds(5), [&] { return round != my_round; });
    }
  });
  MirrorSays(u"5\t" + PageBase());
  for (int i = 1; i <= 20; ++i) {
    SCOPED_TRACE(i);
    Download(u"CN200710038426");
    EXPECT_EQ(log_->begins, i);
    EXPECT_EQ(face_.positions[prbDownload], 5);
    EXPECT_EQ(face_.positions[prbCombine], 5);
    EXPECT_TRUE(face_.boxes.empty());
  }
  EXPECT_EQ(PageRequests(), 100u);
}

TEST_F(MainFormTest, PageThatKeepsFailingEndsTheDownloadWithoutPdf) {
  SetPageHook([](int page, test::Reply& reply) {
    if (page == 3) reply = {503, "Busy"};
  });
  MirrorSays(u"5\t" + PageBase());
  Download(u"CN200710038426");

  ASSERT_EQ(face_.boxes.size(), 1u);
  EXPECT_EQ(face_.boxes[0].caption, u"下载问题");
  EXPECT_EQ(face_.boxes[0].flags, 64);
  EXPECT_EQ(face_.boxes[0].text, u"下载遇到问题，以下页面未能下载: \r\rgk_000003.tif: " +
                                     PageBase() +
                                     u"/000003.tif: HTTP/1.1 503 Service Unavailable\r\r"
                                     u"已下载的页面保留在文件夹中，请稍后再次下载。");
  EXPECT_EQ(server_.Count("/pages/CN/000003.tif"), 8u);
  EXPECT_TRUE(log_->calls.empty());
  EXPECT_TRUE(face_.pictures[imgGk]);
  EXPECT_TRUE(face_.entryEnabled);
  EXPECT_FALSE(face_.pictures[imgDownload]);
  EXPECT_EQ(form_->WorkerCount(), 0u);
  // Pages that arrived stay, whole; the failed page has no file.
  for (const auto& entry : fs::directory_iterator(Folder("200710038426"))) {
    const std::string name = entry.path().filename().string();
    ASSERT_EQ(name.size(), 13u) << name;
    EXPECT_NE(name, "gk_000003.tif");
    EXPECT_EQ(ReadFile(entry.path()),
              test::TiffSample(static_cast<uint32_t>(std::stoi(name.substr(3, 6)))));
  }

  // Downloaded again, the patent keeps the pages in place and fetches only the missing ones.
  const auto in_place = static_cast<std::size_t>(
      std::distance(fs::directory_iterator(Folder("200710038426")), fs::directory_iterator()));
  const std::size_t asked_before = PageRequests();
  SetPageHook(nullptr);
  Download(u"CN200710038426");
  EXPECT_EQ(PageRequests() - asked_before, 5 - in_place);
  EXPECT_EQ(face_.boxes.size(), 1u);
  EXPECT_EQ(log_->calls.back(), "end");
  EXPECT_FALSE(face_.pictures[imgGk]);
  EXPECT_EQ(face_.positions[prbDownload], 5);
}

TEST_F(MainFormTest, TextRecognitionReachesTheCombinerAndPagesWithoutTextAreTold) {
  MirrorSays(u"3\t" + PageBase());
  // Off, as the form starts: the combiner is told so.
  EXPECT_FALSE(form_->TextRecognition());
  Download(u"CN200710038426");
  EXPECT_EQ(log_->languages, std::vector<std::string>{""});
  EXPECT_TRUE(face_.boxes.empty());

  // On: every page of the document may be recognised at once, those kept or not prepared too;
  // a page whose text could not be read is told, while the PDF stands.
  form_->SetTextRecognition(true);
  log_->unread = {{u"gk_000002.tif", "The recognition engine failed on the page."}};
  log_->recognised.clear();
  Download(u"CN200710038426");
  EXPECT_EQ(log_->languages.back(), "neural");
  EXPECT_EQ(log_->recognised,
            (std::vector<std::string>{"gk_000001.tif", "gk_000002.tif", "gk_000003.tif"}));
  EXPECT_EQ(form_->LastOutcome().Result, DownloadOutcome::Status::kCombined);
  EXPECT_FALSE(face_.pictures[imgGk]);
  ASSERT_EQ(face_.boxes.size(), 1u);
  EXPECT_EQ(face_.boxes[0].caption, u"识别问题");
  EXPECT_EQ(face_.boxes[0].flags, 64);
  EXPECT_EQ(face_.boxes[0].text,
            u"PDF文件已生成，但以下页面未能识别文字，这些页面没有文字层: \r\r"
            u"gk_000002.tif: The recognition engine failed on the page.");

  // Models (or language data) missing: said before anything is asked of the services.
  log_->missingLanguages = "neural";
  face_.boxes.clear();
  const std::size_t requests_before = server_.Requests().size();
  Download(u"CN200710038426");
  EXPECT_EQ(server_.Requests().size(), requests_before);
  ASSERT_EQ(face_.boxes.size(), 1u);
  EXPECT_EQ(face_.boxes[0].flags, 16);
  EXPECT_EQ(face_.boxes[0].text, u"The recognition language neural is not installed.");
  EXPECT_TRUE(face_.entryEnabled);
}

TEST_F(MainFormTest, ClosingMidDownloadCutsTheFetchesUnderWayShort) {
  // Every page is held back, so that the destructor meets five workers each in the middle of a
  // fetch.
  const auto hold = HoldPages();
  MirrorSays(u"50\t" + PageBase());
  form_->edtApnChange(u"CN200710038426");
  form_->btnDownloadClick();
  ASSERT_TRUE(hold->WaitUntilHeld(5));
  const auto start = std::chrono::steady_clock::now();
  form_.reset();
  // The fetches were cut short, not waited for: the pages are still held.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  hold->Release();

  // The calls the workers handed over belong to the destroyed form and are not run.
  EXPECT_EQ(PageRequests(), 5u);
  EXPECT_TRUE(log_->calls.empty());
  EXPECT_TRUE(fs::is_empty(Folder("200710038426")));
}

TEST_F(MainFormTest, TricklingPageServerEndsInTheMessageAndIdleWithinTheDeadline) {
  // A page server that sends one byte every 50 ms, each in time for the read time-out: without
  // the deadline a single try would take 40 minutes.
  const std::string answer =
      "HTTP/1.1 200 OK\r\nContent-Length: 50000\r\n\r\n" + test::TiffSample(1);
  const test::PeerScript trickle = {test::PeerStep::ExpectUntil("\r\n\r\n"),
                                    test::PeerStep::SendByteByByte(answer, 50)};
  test::ScriptedPeer pages(std::vector<test::PeerScript>{trickle, trickle}, 2000);
  form_ = MakeForm(Utf8ToUtf16(server_.Base()), false, [](MainFormSettings& settings) {
    settings.FetchDeadline = 300;
    settings.Retries.MaxTries = 2;
  });
  MirrorSays(u"1\thttp://127.0.0.1:" + Utf8ToUtf16(std::to_string(pages.Port())) + u"/p");
  const auto start = std::chrono::steady_clock::now();
  Download(u"CN200710038426");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));

  ASSERT_EQ(face_.boxes.size(), 1u);
  EXPECT_EQ(face_.boxes[0].text,
            u"下载遇到问题，以下页面未能下载: \r\rgk_000001.tif: "
            u"http://127.0.0.1:" +
                Utf8ToUtf16(std::to_string(pages.Port())) +
                u"/p/000001.tif: Fetch took longer than 0.3 s.\r\r"
                u"已下载的页面保留在文件夹中，请稍后再次下载。");
  EXPECT_GE(pages.Connections(), 1u);
  EXPECT_TRUE(fs::is_empty(Folder("200710038426")));
  EXPECT_TRUE(log_->calls.empty());
  EXPECT_TRUE(face_.entryEnabled);
  EXPECT_EQ(form_->WorkerCount(), 0u);
}

TEST_F(MainFormTest, CombinationErrorIsReportedOnceWithoutFetchingAgain) {
  log_->failOn = "tiff gk_000002.tif";
  MirrorSays(u"3\t" + PageBase());
  Download(u"CN200710038426");

  ASSERT_EQ(face_.boxes.size(), 1u);
  EXPECT_EQ(face_.boxes[0].caption, u"合并问题");
  EXPECT_EQ(face_.boxes[0].text, u"合并PDF文件时遇到问题: \r\rCannot read gk_000002.tif.");
  EXPECT_EQ(log_->begins, 1);
  EXPECT_EQ(PageRequests(), 3u);
  EXPECT_TRUE(face_.pictures[imgGk]);  // no PDF to open
  EXPECT_TRUE(face_.entryEnabled);
  EXPECT_EQ(form_->WorkerCount(), 0u);
}

TEST_F(MainFormTest, PatentFetchedByAnotherRunIsToldAtOnceAndTheWindowStaysUsable) {
  MirrorSays(u"3\t" + PageBase());
  fs::create_directories(Folder("200710038426"));
  {
    // Another run holds the patent's folder (a lock of its own, as another process's would be).
    RunLock other((Folder("200710038426") / "CN200710038426.lock").string());
    ASSERT_TRUE(other.TryLock("brevisfetch-cli"));
    const auto start = std::chrono::steady_clock::now();
    Download(u"CN200710038426");
    // The window's thread did not wait for the other run.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_EQ(face_.boxes.size(), 1u);
    EXPECT_EQ(face_.boxes[0].text,
              Utf8ToUtf16("CN200710038426 is being fetched in this folder by process " +
                          std::to_string(::getpid()) + " (brevisfetch-cli)."));
    EXPECT_EQ(PageRequests(), 0u);
    EXPECT_TRUE(face_.entryEnabled);
    EXPECT_FALSE(form_->Busy());
  }
  // Once the other run has ended, the same click downloads, and no lock file stays behind.
  Download(u"CN200710038426");
  EXPECT_EQ(face_.boxes.size(), 1u);
  EXPECT_EQ(PageRequests(), 3u);
  EXPECT_EQ(log_->begins, 1);
  EXPECT_FALSE(fs::exists(Folder("200710038426") / "CN200710038426.lock"));
}

TEST_F(MainFormTest, IgnoresClicksWhileBusyOrNotValid) {
  form_->edtApnChange(u"12345");
  form_->btnDownloadClick();
  EXPECT_FALSE(form_->Busy());
  EXPECT_TRUE(server_.Requests().empty());

  // A second click while the server holds the first download's pages starts nothing: no second
  // lookup, no more workers, and one combination in the end.
  const auto hold = HoldPages();
  MirrorSays(u"10\t" + PageBase());
  form_->edtApnChange(u"CN200710038426");
  form_->btnDownloadClick();
  ASSERT_TRUE(hold->WaitUntilHeld(5));
  const std::string lookup =
      "/cgi-bin/fturl.cgi?s=" + Utf16ToUtf8(cipher_.Encrypt(u"200710038426"));
  ASSERT_EQ(server_.Count(lookup), 1u);
  ASSERT_EQ(form_->WorkerCount(), 5u);
  form_->btnDownloadClick();
  EXPECT_TRUE(form_->Busy());
  EXPECT_EQ(server_.Count(lookup), 1u);
  EXPECT_EQ(form_->WorkerCount(), 5u);
  hold->Release();
  ASSERT_TRUE(face_.window.RunUntil([&] { return !form_->Busy(); }, std::chrono::seconds(60)));
  face_.window.RunPending();
  EXPECT_EQ(log_->begins, 1);
  EXPECT_EQ(PageRequests(), 10u);
  EXPECT_TRUE(face_.boxes.empty());
}

// Start-up, update check and the small commands.

TEST_F(MainFormTest, StartUpChecksForUpdatesRecognisesThePresetAndMakesTheRepository) {
  fs::remove_all(dir_ / "repo");
  form_->FormCreate();
  EXPECT_TRUE(fs::is_directory(dir_ / "repo"));
  EXPECT_TRUE(form_->valid());
  EXPECT_EQ(form_->apn(), u"200710038426");
  EXPECT_EQ(server_.Requests(),
            (std::vector<std::string>{"/cgi-bin/update.cgi?pro=brevisfetch&ver=20100410"}));
  form_->FormCreate();  // finds the folder and leaves it alone
  EXPECT_TRUE(fs::is_directory(dir_ / "repo"));
}

TEST_F(MainFormTest, UpdateCheckOffersTheUpdatePage) {
  struct Case {
    const char* name;
    test::Reply reply;
    int answer;
    const char16_t* offered;  // the address asked about; null: no question
    bool opened;
  };
  const Case kCases[] = {
      {"nothing new", {200, ""}, 6, nullptr, false},
      {"update, yes",
       {200, "http://127.0.0.1/new.html\r\n"},
       6,
       u"http://127.0.0.1/new.html",
       true},
      {"update, no", {200, "HTTPS://mirror.test/new"}, 7, u"HTTPS://mirror.test/new", false},
      {"service fails", {500, "oops"}, 6, nullptr, false},
      // Only web addresses go to the desktop's opener.
      {"not an address", {200, "not even an address"}, 6, nullptr, false},
      {"a local file", {200, "file:///etc/passwd"}, 6, nullptr, false},
      {"a script", {200, "javascript:alert(1)"}, 6, nullptr, false},
      {"no host", {200, "http:///etc/passwd"}, 6, nullptr, false},
      {"a blank inside", {200, "http://a.test/x y"}, 6, nullptr, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    face_.boxes.clear();
    face_.opens.clear();
    face_.answers = {c.answer};
    SetUpdate(c.reply);
    form_->checkUpdate();
    ASSERT_EQ(face_.boxes.size(), c.offered != nullptr ? 1u : 0u);
    if (c.offered != nullptr) {
      EXPECT_EQ(face_.boxes[0].caption, u"更新通知");
      EXPECT_EQ(face_.boxes[0].text,
                u"检查到软件有新的更新，需要访问更新网站吗？\r\r" + std::u16string(c.offered));
      EXPECT_EQ(face_.boxes[0].flags, 36);
    }
    ASSERT_EQ(face_.opens.size(), c.opened ? 1u : 0u);
    if (c.opened) {
      EXPECT_EQ(face_.opens[0].first, c.offered);
      EXPECT_EQ(face_.opens[0].second, swMaximized);
    }
  }
  // An unreachable service: nothing at all.
  const test::RefusingPort refusing;
  form_ = MakeForm(RefusingBase(refusing));
  face_.boxes.clear();
  form_->checkUpdate();
  EXPECT_TRUE(face_.boxes.empty());
}

TEST_F(MainFormTest, WebPagesOpenMaximised) {
  form_->btnUpdateClick();
  form_->btnWebsiteClick();
  ASSERT_EQ(face_.opens.size(), 2u);
  EXPECT_EQ(Utf16ToUtf8(face_.opens[0].first), server_.Base() + "/brevisfetch.html");
  EXPECT_EQ(Utf16ToUtf8(face_.opens[1].first), server_.Base() + "/");
  EXPECT_EQ(face_.opens[0].second, swMaximized);
  EXPECT_EQ(face_.opens[1].second, swMaximized);
}

}  // namespace
}  // namespace brevis
