// The main window's behaviour against a view that records what it is told: the same suite for
// every front end, headless. The connection tests and the started procedures run against the
// stand-in servers through the real driver.

#include "app/MainForm.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <thread>

#include "platform/Dialogs.h"
#include "platform/EventPump.h"
#include "support/StandIn.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

using app::Control;

struct ControlState {
  std::string text;
  app::Colour colour;
  bool bold = false;
  bool visible = true;
  bool enabled = true;
  bool checked = false;
  std::vector<std::string> items;
};

struct RecordingProgress : app::IProgressWindowView {
  std::map<app::ProgressControl, std::string> texts;
  std::map<app::ProgressControl, bool> visible;
  int percent = -1, barMaximum = -1, barPosition = -1, height = 0;
  bool shown = false;
  void SetText(app::ProgressControl c, const std::string& t) override { texts[c] = t; }
  void SetVisible(app::ProgressControl c, bool v) override { visible[c] = v; }
  void SetGaugePercent(int p) override { percent = p; }
  void SetBar(int maximum, int position) override { barMaximum = maximum, barPosition = position; }
  void SetClientHeight(int h) override { height = h; }
  void Show() override { shown = true; }
  void Hide() override { shown = false; }
};

class RecordingView : public app::IMainView {
 public:
  RecordingView() {
    for (const auto& layout : app::MainControls()) {
      ControlState& s = state[layout.id];
      s.text = layout.text;
      s.colour = layout.colour;
      s.visible = layout.visible;
    }
  }
  void SetText(Control c, const std::string& t) override { state[c].text = t; }
  void SetTextStyle(Control c, app::Colour colour, bool bold) override {
    state[c].colour = colour;
    state[c].bold = bold;
  }
  void SetVisible(Control c, bool v) override { state[c].visible = v; }
  void SetEnabled(Control c, bool e) override { state[c].enabled = e; }
  void SetChecked(Control c, bool on) override {
    state[Control::rbBackup].checked = (c == Control::rbBackup) == on;
    state[Control::rbRestore].checked = (c == Control::rbRestore) == on;
  }
  void SetFocus(Control c) override { focus = c; }
  void SetItems(Control c, const std::vector<std::string>& items) override { state[c].items = items; }
  // As a window does: asks the form and closes when it agrees.
  void RequestClose() override {
    if (form != nullptr && form->CloseQuery()) closed = true;
  }
  std::unique_ptr<app::IProgressWindowView> CreateProgressWindow() override {
    auto p = std::make_unique<RecordingProgress>();
    lastProgress = p.get();
    return p;
  }
  // What a user does: the radio button becomes checked, then the form hears of it.
  void Check(Control radio) {
    if (state[radio].checked) return;
    SetChecked(radio, true);
    form->Checked(radio);
  }
  void Click(Control c) {
    if (state[c].enabled && state[c].visible) form->Clicked(c);
  }
  bool EnabledAll(std::initializer_list<Control> controls, bool enabled) {
    for (Control c : controls)
      if (state[c].enabled != enabled) return false;
    return true;
  }

  std::map<Control, ControlState> state;
  Control focus = Control::img1;
  bool closed = false;
  app::MainForm* form = nullptr;
  RecordingProgress* lastProgress = nullptr;
};

// Events the "user" delivers while the form waits: each action runs once its time has come.
class ScriptedEvents : public platform::IEventPump {
 public:
  void At(int ms, std::function<void()> action) { actions_.push_back({start_ + std::chrono::milliseconds(ms), std::move(action)}); }
  void PumpEvents() override {
    ++pumped;
    for (auto& a : actions_) {
      if (a.action && std::chrono::steady_clock::now() >= a.due) std::exchange(a.action, nullptr)();
    }
  }
  bool WaitForEvents(int ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
    return true;
  }
  int pumped = 0;

 private:
  struct Action {
    std::chrono::steady_clock::time_point due;
    std::function<void()> action;
  };
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::vector<Action> actions_;
};

struct FixedClock : platform::IClock {
  platform::LocalDateTime now{2013, 6, 15, 9, 30, 0, 0};
  platform::LocalDateTime Now() const override { return now; }
};

const std::initializer_list<Control> kHeldByARun = {Control::rbBackup, Control::rbRestore, Control::btnSelect,
                                                   Control::btnTestContected, Control::btnBeginBackup,
                                                   Control::btnBeginRestore};

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() : dialogsInstalled_(&dialogs), pumpInstalled_(&events) {
    platform::SetClock(&clock);
    view.form = &form;
  }
  ~MainFormTest() override { platform::SetClock(nullptr); }
  ControlState& S(Control c) { return view.state[c]; }

  platform::ScriptedDialogs dialogs;
  ScriptedEvents events;
  FixedClock clock;

 private:
  platform::ScopedDialogs dialogsInstalled_;
  platform::ScopedEventPump pumpInstalled_;

 protected:
  RecordingView view;
  app::MainForm form{view};
};

TEST(ArchiveName, ProposalHasTheDateAndOneSeparator) {
  struct Case {
    const char* folder;
    platform::LocalDateTime date;
    const char* expected;
  };
  const Case cases[] = {
#ifdef _WIN32
      {"D:\\backup", {2013, 6, 15}, "D:\\backup\\20130615bak.dmp"},
      {"E:\\", {2013, 6, 15}, "E:\\20130615bak.dmp"},
      {"\\\\server\\share", {2024, 1, 2}, "\\\\server\\share\\20240102bak.dmp"},
#else
      {"/data/backup", {2013, 6, 15}, "/data/backup/20130615bak.dmp"},
      {"/", {2013, 6, 15}, "/20130615bak.dmp"},
      {"/media/usb/", {2013, 6, 15}, "/media/usb/20130615bak.dmp"},
      {"/数据/备份", {1999, 12, 31}, "/数据/备份/19991231bak.dmp"},
#endif
  };
  for (const auto& c : cases) EXPECT_EQ(app::ProposeArchiveName(c.folder, c.date), c.expected);
}

TEST_F(MainFormTest, ModesSwapTheStartButtonsEmptyThePathSetTheHintAndLeaveTheStatus) {
  EXPECT_TRUE(S(Control::rbBackup).checked);
  EXPECT_FALSE(S(Control::rbRestore).checked);
  form.ConnectDatabase = [](const std::string&) { return true; };
  form.btnTestContectedClick();
  struct Step {
    Control radio;
    bool backupVisible;
    const char* hint;
  };
  for (const Step& step : {Step{Control::rbRestore, false, "选择保存备份数据的文件："},
                           Step{Control::rbBackup, true, "选择保存数据备份的路径："}}) {
    form.SetArchivePath("/data/x.dmp");
    view.Check(step.radio);
    EXPECT_EQ(form.BackupMode(), step.backupVisible);
    EXPECT_EQ(S(Control::btnBeginBackup).visible, step.backupVisible);
    EXPECT_EQ(S(Control::btnBeginRestore).visible, !step.backupVisible);
    EXPECT_EQ(S(Control::edtFile).text, "");
    EXPECT_EQ(form.ArchivePathText(), "");
    EXPECT_EQ(S(Control::lblHint).text, step.hint);
    EXPECT_EQ(S(Control::lblContectedStatus).text, app::kStatusConnected);
  }
  // The checked one again: nothing happens.
  form.SetArchivePath("/data/x.dmp");
  view.Check(Control::rbBackup);
  EXPECT_EQ(form.ArchivePathText(), "/data/x.dmp");
}

TEST_F(MainFormTest, BrowseProposesTheArchiveOrTakesTheFileAndACancelKeepsThePath) {
  dialogs.folderAnswers = {std::string("/data/backup"), std::nullopt};
  view.Click(Control::btnSelect);
  const std::string proposal = app::ProposeArchiveName("/data/backup", clock.now);
  EXPECT_EQ(S(Control::edtFile).text, proposal);
  view.Click(Control::btnSelect);
  EXPECT_EQ(form.ArchivePathText(), proposal);
  ASSERT_EQ(dialogs.folderDialogs.size(), 2u);
  const auto& t = dialogs.folderDialogs.front();
  EXPECT_EQ(std::vector<std::string>({t.caption, t.pathPrompt, t.treePrompt, t.drivePrompt, t.okText, t.cancelText}),
            std::vector<std::string>({"选择路径", "路径", "目录", "Drives", "确定", "取消"}));
  EXPECT_EQ(dialogs.fileDialogs, 0);

  // Bytes that are not UTF-8 reach the procedures as they are.
  view.Check(Control::rbRestore);
  dialogs.fileAnswers = {std::string("/data/\xE5\xA4\x87\xFF.dmp"), std::nullopt};
  view.Click(Control::btnSelect);
  view.Click(Control::btnSelect);
  EXPECT_EQ(form.ArchivePathText(), "/data/\xE5\xA4\x87\xFF.dmp");
  EXPECT_EQ(dialogs.fileDialogs, 2);
  EXPECT_EQ(dialogs.folderDialogs.size(), 2u);
}

class StartButton : public MainFormTest {
 protected:
  StartButton() {
    form.ConnectDatabase = [this](const std::string& key) {
      keys.push_back(key);
      return connects;
    };
    form.BackupData = [this] { ++backups; };
    form.RestoreData = [this] { ++restores; };
  }
  bool connects = true;
  std::vector<std::string> keys;
  int backups = 0, restores = 0;
};

TEST_F(StartButton, TheTestShowsItsThreeStatesWhilePumpingAndAFailedOneWarnsAndRunsNothing) {
  testsupport::TraceCapture trace;
  connects = false;
  ControlState during;
  bool othersEnabled = false;
  events.At(500, [&] {
    during = S(Control::lblContectedStatus);
    othersEnabled = view.EnabledAll(kHeldByARun, false) == false;
  });
  const auto start = std::chrono::steady_clock::now();
  view.Click(Control::btnBeginBackup);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  EXPECT_GE(events.pumped, 50);
  EXPECT_EQ(during.text, "正在连接中...");
  EXPECT_EQ(during.colour, app::kWhite);
  EXPECT_FALSE(during.bold);
  EXPECT_FALSE(othersEnabled) << "a run holds the controls from its test on";
  EXPECT_EQ(S(Control::lblContectedStatus).text, "连接不成功");
  EXPECT_EQ(S(Control::lblContectedStatus).colour, app::kRed);
  EXPECT_TRUE(S(Control::lblContectedStatus).bold);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "数据库连接不成功，请检查数据库服务是否启动！");
  EXPECT_EQ(dialogs.shown[0].caption, "警告");
  EXPECT_EQ(dialogs.shown[0].style, 48);
  EXPECT_EQ(backups + restores, 0);
  EXPECT_TRUE(trace.Contains("Enter btnBeginBackupClick"));
  EXPECT_TRUE(trace.Contains("Leave btnBeginBackupClick"));

  // Green now; the start tests again anyway, with the checked mode's profile.
  connects = true;
  view.Click(Control::btnTestContected);
  EXPECT_EQ(S(Control::lblContectedStatus).colour, app::kLime);
  view.Click(Control::btnBeginBackup);
  view.Check(Control::rbRestore);
  view.Click(Control::btnBeginRestore);
  EXPECT_EQ(keys, (std::vector<std::string>{"bf", "bf", "bf", "hy"}));
  EXPECT_EQ(backups, 1);
  EXPECT_EQ(restores, 1);
}

TEST_F(StartButton, ATestStartedAloneHoldsNothingAndExitClosesAtOnce) {
  dialogs.folderAnswers.push_back(std::string("/data/backup"));
  bool closedAtOnce = false;
  events.At(300, [&] {
    EXPECT_TRUE(view.EnabledAll(kHeldByARun, true));
    view.Click(Control::btnSelect);
    view.Click(Control::btnExit);
    closedAtOnce = view.closed;
  });
  view.Click(Control::btnTestContected);
  EXPECT_EQ(form.ArchivePathText(), app::ProposeArchiveName("/data/backup", clock.now));
  EXPECT_TRUE(closedAtOnce);
  EXPECT_TRUE(keys.empty()) << "a closed window's test connects nowhere";
}

TEST_F(StartButton, ARunHoldsTheControlsRunsNoSecondStartAndHoldsACloseUntilItsLastBox) {
  struct Case {
    const char* name;
    bool raises;
    bool closeDuringTest;
  };
  for (const Case& c : {Case{"clean run", false, false}, Case{"run that raises", true, false},
                        Case{"close during the test", false, true}}) {
    SCOPED_TRACE(c.name);
    RecordingView v;
    app::MainForm f(v);
    v.form = &f;
    dialogs.shown.clear();
    f.ConnectDatabase = [](const std::string&) { return true; };
    int runs = 0;
    bool heldDuring = false, openDuringBox = false;
    if (c.closeDuringTest) events.At(0, [&] { v.Click(Control::btnExit); });
    f.BackupData = [&] {
      ++runs;
      heldDuring = v.EnabledAll(kHeldByARun, false);
      f.btnBeginBackupClick();  // delivered anyway: must not run inside this one
      v.RequestClose();
      EXPECT_FALSE(v.closed);
      if (c.raises) throw std::runtime_error("disk full");
    };
    dialogs.onMessage = [&](const platform::ShownMessage&) { openDuringBox = !v.closed && f.Busy(); };
    v.Click(Control::btnBeginBackup);
    dialogs.onMessage = nullptr;
    EXPECT_EQ(runs, c.closeDuringTest ? 0 : 1);
    if (!c.closeDuringTest) {
      EXPECT_TRUE(heldDuring);
    }
    if (c.raises) {
      ASSERT_EQ(dialogs.shown.size(), 1u);
      EXPECT_EQ(dialogs.shown[0].text, "disk full");
      EXPECT_EQ(dialogs.shown[0].caption, app::kApplicationTitle);
      EXPECT_EQ(dialogs.shown[0].style, 16);
      EXPECT_TRUE(openDuringBox);
    }
    EXPECT_FALSE(f.Busy());
    EXPECT_TRUE(v.EnabledAll(kHeldByARun, true));
    EXPECT_TRUE(v.closed) << "the held close is carried out after the run";
  }
}

TEST_F(StartButton, ATestThatRaisesShowsItsErrorBoxAloneAndStartsNothing) {
  form.ConnectDatabase = [](const std::string&) -> bool { throw std::runtime_error("driver exploded"); };
  view.Click(Control::btnBeginBackup);
  view.Click(Control::btnTestContected);
  EXPECT_EQ(S(Control::lblContectedStatus).text, "正在连接中...");
  ASSERT_EQ(dialogs.shown.size(), 2u);
  for (const auto& shown : dialogs.shown) {
    EXPECT_EQ(shown.text, "driver exploded");
    EXPECT_EQ(shown.caption, app::kApplicationTitle);
    EXPECT_EQ(shown.style, 16);
  }
  EXPECT_EQ(backups, 0);
  EXPECT_FALSE(form.Busy());
}

TEST_F(MainFormTest, TheProceduresSeeTheProgressWindowThePathAndTheFileList) {
  migration::IProgressView& progress = form.CreateProgressWindow();
  RecordingProgress* shown = view.lastProgress;
  progress.SetGaugeMinimum(0);
  progress.SetGaugeMaximum(15);
  progress.SetDetailVisible(true);
  progress.SetWindowHeight(200);
  progress.SetInfoText("正在还原数据，请稍候...");
  progress.ShowWindow();
  form.StepProgress();
  EXPECT_EQ(shown->percent, 6);
  for (int i = 0; i < 15; ++i) form.StepProgress();
  EXPECT_EQ(shown->percent, 100);
  EXPECT_EQ(form.ProgressCount, 16);
  progress.SetDetailProgress("正在导入表B01REPORT中的记录", 4, 9, 1);
  EXPECT_EQ(shown->barPosition, 4) << "kept inside the range";
  progress.UpdateDetailProgress(3, "");
  EXPECT_EQ(shown->texts[app::ProgressControl::txt1], "正在导入表B01REPORT中的记录");
  EXPECT_EQ(shown->barPosition, 3);
  EXPECT_TRUE(shown->shown && shown->visible[app::ProgressControl::pbrDetail] && shown->height == 200);
  progress.CloseWindow();
  EXPECT_FALSE(shown->shown);
  form.DestroyProgressWindow();
  EXPECT_EQ(form.ProgressWindow(), nullptr);
  form.StepProgress();  // without a window only the count moves
  EXPECT_EQ(form.ProgressCount, 17);

  form.FocusArchivePath();
  EXPECT_EQ(view.focus, Control::edtFile);
  testsupport::TempDir dir;
  for (const char* name : {"b.xml", "A.xml", "c.txt", ".hidden"}) std::ofstream(dir / name) << "x";
  std::filesystem::create_directory(dir / "sub");
  EXPECT_EQ(form.ListFiles(dir.path()), (std::vector<std::string>{"A.xml", "b.xml", "c.txt"}));
  EXPECT_EQ(S(Control::fllst1).items, (std::vector<std::string>{"A.xml", "b.xml", "c.txt"}));
}

// The real connection and procedures, against the stand-in servers.
TEST_F(MainFormTest, WithTheStandInsTheTestConnectsAndTheStartRunsTheCheckedModesProcedure) {
  for (Control mode : {Control::rbRestore, Control::rbBackup}) {
    view.Check(mode);
    view.Click(Control::btnTestContected);
    EXPECT_EQ(S(Control::lblContectedStatus).text, "连接成功") << "is the stand-in running? scripts/dbenv.sh start";
  }
  // An empty path: the procedure's own box.
  view.Click(Control::btnBeginBackup);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "请选择保存数据备份的路径！");

  testsupport::TempDir dir;
  dialogs.folderAnswers.push_back(dir.path());
  view.Click(Control::btnSelect);
  view.Click(Control::btnBeginBackup);
  EXPECT_EQ(dialogs.shown.back().text, "数据备份完成！");
  const std::string archive = app::ProposeArchiveName(dir.path(), clock.now);
  EXPECT_TRUE(std::filesystem::exists(archive));
  EXPECT_FALSE(std::filesystem::exists(dir / "qimzorstatistics"));
  EXPECT_EQ(form.ProgressWindow(), nullptr);
  EXPECT_EQ(form.ProgressCount, 15);

  // The restore asks first; No stops it before anything is touched.
  view.Check(Control::rbRestore);
  dialogs.fileAnswers.push_back(archive);
  view.Click(Control::btnSelect);
  dialogs.messageAnswers.push_back(platform::kIdNo);
  const size_t before = dialogs.shown.size();
  view.Click(Control::btnBeginRestore);
  ASSERT_EQ(dialogs.shown.size(), before + 1);
  EXPECT_EQ(dialogs.shown.back().style, 52);
  EXPECT_FALSE(std::filesystem::exists(dir / "qimzorstatistics"));
  EXPECT_FALSE(form.Busy());
}

}  // namespace
