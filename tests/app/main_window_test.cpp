#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPaintEvent>
#include <QtTest/QTest>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "engine/errors/engine_error.h"
#include "platform/registry_store.h"
#include "tests/support/file_patch.h"
#include "tests/update/update_test_support.h"
#include "tools/sample_database.h"
#include "update/catalogue.h"
#include "update/restructure_database.h"

namespace strata {
namespace {

namespace fs = std::filesystem;

// One QApplication on the offscreen platform for the whole program, with a
// private runtime directory and registry file.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "window-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "runtime");
    fs::permissions(dir_ / "runtime", fs::perms::owner_all);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_RUNTIME_DIR", (dir_ / "runtime").c_str(), 1);
    setenv("HEARTHBOOK_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
    application_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override {
    application_.reset();
    fs::remove_all(dir_);
  }

 private:
  fs::path dir_;
  int argc_ = 1;
  char name_[9] = "app_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void NoUpdate(const std::string&, ProgressDisplay*, ProgressDisplay*, TextDisplay*) {}

// Records what the label and the bars show each time that changes on the
// screen (a repaint showing the same as the one before is not recorded).
class PaintRecorder : public QObject {
 public:
  PaintRecorder(const TfMain& window) : window_(window) {
    for (QWidget* widget : {static_cast<QWidget*>(window.lTableName),
                            static_cast<QWidget*>(window.pbTables),
                            static_cast<QWidget*>(window.pbRestructure)}) {
      widget->installEventFilter(this);
    }
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    std::string shown;
    if (watched == window_.lTableName) {
      shown = "label " + window_.lTableName->text().toStdString();
    } else if (watched == window_.pbTables) {
      shown = "overall " + std::to_string(window_.pbTables->value());
    } else {
      shown = "restructure " + std::to_string(window_.pbRestructure->value());
    }
    if (painted.empty() || painted.back() != shown) painted.push_back(shown);
    return false;
  }
  std::vector<std::string> painted;

 private:
  const TfMain& window_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registryPath_ = std::getenv("HEARTHBOOK_REGISTRY");
    fs::remove(registryPath_);
  }

  // Shows the window with message boxes recorded instead of shown.
  std::unique_ptr<TfMain> ShownWindow(UpdateRoutine update) {
    auto window = std::make_unique<TfMain>(std::move(update));
    window->SetMessageBoxHandler([this](const MessageBoxRequest& box) { boxes_.push_back(box); });
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
  }

  std::string registryPath_;
  std::vector<MessageBoxRequest> boxes_;
};

TEST_F(MainWindowTest, ControlsSitWhereTheLayoutPutsThem) {
  TfMain window(NoUpdate);
  EXPECT_EQ(window.size(), QSize(483, 279));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_FALSE(window.bUpdate->icon().isNull());

  const struct {
    QWidget* control;
    QWidget* parent;
    QRect geometry;
  } layout[] = {
      {window.Panel2, &window, {0, 0, 483, 279}},
      {window.Label1, window.Panel2, {21, 18, 427, 97}},
      {window.bUpdate, window.Panel2, {145, 139, 193, 28}},
      {window.GroupBox1, window.Panel2, {12, 180, 459, 87}},
      {window.lTableName, window.GroupBox1, {48, 15, 103, 13}},
      {window.pbRestructure, window.GroupBox1, {159, 14, 292, 16}},
      {window.pbTables, window.GroupBox1, {9, 61, 442, 16}},
  };
  for (const auto& row : layout) {
    EXPECT_EQ(row.control->parentWidget(), row.parent) << row.control->metaObject()->className();
    EXPECT_EQ(row.control->geometry(), row.geometry) << row.control->metaObject()->className();
  }
  // The two captions size themselves to their text from their corner.
  EXPECT_EQ(window.Label2->pos(), QPoint(9, 15));
  EXPECT_EQ(window.Label3->pos(), QPoint(9, 40));
  EXPECT_EQ(window.Label2->parentWidget(), window.GroupBox1);
  EXPECT_EQ(window.Label3->parentWidget(), window.GroupBox1);

  EXPECT_EQ(window.windowTitle(), "Data Update Utility");
  EXPECT_EQ(window.Label1->text(),
            "Click 'Update Database Structure' to update your database to the latest version. "
            "This utility only needs to be run once, but will not harm your database if run more "
            "than once.\r\n\r\nNOTE : It is always advisable to do a backup before updating your "
            "database.");
  EXPECT_TRUE(window.Label1->wordWrap());
  EXPECT_EQ(window.Label1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(window.bUpdate->text(), "Update Database Structure");
  EXPECT_EQ(window.GroupBox1->title(), "");
  EXPECT_EQ(window.Label2->text(), "Table : ");
  EXPECT_EQ(window.Label3->text(), "Overall");
  EXPECT_EQ(window.lTableName->text(), "");
  EXPECT_EQ(window.font().pointSize(), 8);
  EXPECT_EQ(window.lTableName->font().pointSize(), 8);
  EXPECT_EQ(window.Label1->font().pointSize(), 10);
  EXPECT_EQ(window.pbRestructure->minimum(), 0);
  EXPECT_EQ(window.pbRestructure->maximum(), 100);
  EXPECT_EQ(window.pbRestructure->value(), 0);
  EXPECT_EQ(window.pbTables->value(), 0);
}

TEST_F(MainWindowTest, ShowingSetsTheOverallMaximumAndCaptionButNoPosition) {
  TfMain window(NoUpdate);
  window.pbTables->setValue(5);
  window.pbRestructure->setValue(40);
  window.setWindowTitle("changed");
  window.show();
  EXPECT_EQ(window.pbTables->maximum(), 63);
  EXPECT_EQ(window.pbTables->value(), 5);
  EXPECT_EQ(window.pbRestructure->value(), 40);
  EXPECT_EQ(window.windowTitle(), "Data Update Utility");
}

TEST_F(MainWindowTest, SuccessfulRunShowsItsProgressThenTheFinalMessage) {
  ASSERT_TRUE(platform::RegistryStore(registryPath_)
                  .SetString("HKEY_CURRENT_USER\\Software\\Hearthbook", "DataPath", "/srv/hearth"));
  std::string directory;
  bool waitCursor = false;
  auto window = ShownWindow([&](const std::string& dir, ProgressDisplay* overall,
                                ProgressDisplay* restructure, TextDisplay* label) {
    directory = dir;
    const QCursor* cursor = QGuiApplication::overrideCursor();
    waitCursor = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
    overall->StepIt();
    label->SetText("caf\xE9.dat");
    label->Repaint();
    restructure->SetPosition(37);
    restructure->SetPosition(100);
    overall->StepIt();
    label->SetText("Restructure done.");
    label->Repaint();
    overall->SetPosition(0);
    restructure->SetPosition(0);
  });
  PaintRecorder recorder(*window);
  QTest::mouseClick(window->bUpdate, Qt::LeftButton);

  EXPECT_EQ(directory, "/srv/hearth");
  EXPECT_TRUE(waitCursor);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(recorder.painted,
            (std::vector<std::string>{"overall 1", "label caf\u00e9.dat", "restructure 37",
                                      "restructure 100", "overall 2", "label Restructure done.",
                                      "overall 0", "restructure 0"}));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "Database Update");
  EXPECT_EQ(boxes_[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(boxes_[0].text,
            "Your data has been updated.  Close this\r\npopup and the Update Utility and you\r\n"
            "can start your Program.");
}

TEST_F(MainWindowTest, FailedRunShowsTheErrorAndKeepsTheTableName) {
  const struct {
    std::function<void()> raise;
    const char* shown;
  } failures[] = {
      {[] { throw EDatabaseError("Table is busy"); }, "Table is busy."},
      {[] { RaiseTableError(STRATA_OSEACCES, "caf\xE9.dat"); },
       "Strata Engine Error # 11013 Access denied to table or backup file 'caf\u00e9.dat'"},
  };
  for (const auto& failure : failures) {
    boxes_.clear();
    auto window = ShownWindow([&](const std::string& dir, ProgressDisplay* overall,
                                  ProgressDisplay*, TextDisplay* label) {
      EXPECT_EQ(dir, "");  // no DataPath: the current directory
      overall->StepIt();
      label->SetText("bank.dat");
      label->Repaint();
      failure.raise();
    });
    QTest::mouseClick(window->bUpdate, Qt::LeftButton);

    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(window->lTableName->text(), "bank.dat");
    EXPECT_EQ(window->pbTables->value(), 1);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Database Update");
    EXPECT_EQ(boxes_[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes_[0].text, QString::fromUtf8(failure.shown));
  }
}

TEST_F(MainWindowTest, NumericDataPathStopsBeforeTheRun) {
  ASSERT_TRUE(platform::RegistryStore(registryPath_)
                  .SetValue("HKEY_CURRENT_USER\\Software\\Hearthbook", "DataPath",
                            platform::RegistryValue::DWord(7)));
  bool ran = false;
  auto window = ShownWindow(
      [&](const std::string&, ProgressDisplay*, ProgressDisplay*, TextDisplay*) { ran = true; });
  window->bUpdateClick();
  EXPECT_FALSE(ran);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Invalid data type for 'DataPath'");
}

// The window over the real update run, in a data directory registered for
// the user: every catalogue table passes through the label and the bars.
class WindowUpdateRunTest : public strata::testing::UpdateRunTest {
 protected:
  void SetUp() override {
    UpdateRunTest::SetUp();
    ASSERT_TRUE(platform::RegistryStore(std::getenv("HEARTHBOOK_REGISTRY"))
                    .SetString("HKEY_CURRENT_USER\\Software\\Hearthbook", "DataPath",
                               data_.string()));
    strata::testing::CreateCatalogueTable(data_.string(), Catalogue()[0]);
    window_ = std::make_unique<TfMain>(RestructureDatabase);
    window_->SetMessageBoxHandler([this](const MessageBoxRequest& box) { boxes_.push_back(box); });
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override {
    window_.reset();
    fs::remove(std::getenv("HEARTHBOOK_REGISTRY"));
    UpdateRunTest::TearDown();
  }

  // What the recorder saw of one control, in order, without its prefix.
  static std::vector<std::string> Shown(const PaintRecorder& recorder, const std::string& control) {
    std::vector<std::string> shown;
    for (const std::string& painted : recorder.painted) {
      if (painted.starts_with(control + " ")) shown.push_back(painted.substr(control.size() + 1));
    }
    return shown;
  }

  std::unique_ptr<TfMain> window_;
  std::vector<MessageBoxRequest> boxes_;
};

TEST_F(WindowUpdateRunTest, ClickUpdatesEveryTableInCatalogueOrder) {
  PaintRecorder recorder(*window_);
  QTest::mouseClick(window_->bUpdate, Qt::LeftButton);

  std::vector<std::string> labels, overall;
  for (const CatalogueEntry& entry : Catalogue()) {
    labels.push_back(entry.FileName);
    overall.push_back(std::to_string(overall.size() + 1));
  }
  labels.push_back("Restructure done.");
  overall.push_back("0");
  EXPECT_EQ(Shown(recorder, "label"), labels);
  EXPECT_EQ(Shown(recorder, "overall"), overall);
  const std::vector<std::string> restructure = Shown(recorder, "restructure");
  EXPECT_NE(std::find(restructure.begin(), restructure.end(), "100"), restructure.end());
  EXPECT_EQ(restructure.back(), "0");
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text,
            "Your data has been updated.  Close this\r\npopup and the Update Utility and you\r\n"
            "can start your Program.");
}

TEST_F(WindowUpdateRunTest, DamagedTableStopsTheRunWithItsNameShown) {
  // The third table's data file is not a table.
  const std::string damaged = Catalogue()[2].FileName;
  std::ofstream(data_ / damaged) << std::string(4096, 'x');
  QTest::mouseClick(window_->bUpdate, Qt::LeftButton);

  EXPECT_EQ(window_->lTableName->text().toStdString(), damaged);
  EXPECT_EQ(window_->pbTables->value(), 3);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes_[0].caption, "Database Update");
  EXPECT_EQ(boxes_[0].text.toStdString(),
            "Strata Engine Error # 8961 Header information corrupt in the table '" +
                damaged.substr(0, damaged.size() - 4) + "'");
}

TEST_F(WindowUpdateRunTest, HeaderThatDisagreesWithItsFileStopsTheRunAndChangesNothing) {
  // A sample database whose first table's header counts two slots fewer
  // than its file holds: rebuilt from that header, two rows would go.
  const std::string table = "accents";
  for (const char* extension : {".dat", ".idx", ".blb"}) fs::remove(data_ / (table + extension));
  tools::WriteSampleDatabase(data_.string(), 30);
  const std::string dat = (data_ / (table + ".dat")).string();
  strata::testing::PatchFile(dat, data_header_layout::kNextRecordNumber, 29,
                             data_header_layout::kNextRecordNumberSize);
  const auto files = [&] {
    std::string all;
    for (const char* extension : {".dat", ".idx", ".blb"}) {
      std::ifstream in(data_ / (table + extension), std::ios::binary);
      all += std::string(std::istreambuf_iterator<char>(in), {}) + '|';
    }
    return all;
  };
  const std::string before = files();
  QTest::mouseClick(window_->bUpdate, Qt::LeftButton);

  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes_[0].text.toStdString(),
            "Strata Engine Error # 8961 Header information corrupt in the table '" + table + "'");
  EXPECT_EQ(window_->lTableName->text().toStdString(), table + ".dat");
  EXPECT_TRUE(files() == before);
}

TEST(ErrorBoxTextTest, FullStopOnlyAfterCharactersSortingAfterIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"Disk full", "Disk full."},       {"Done.", "Done."},   {"'x'", "'x'"},
      {"Stop!", "Stop!"},                {"Path /", "Path /."}, {"Code 7", "Code 7."},
      {"", ""},                          {"caf\u00e9", "caf\u00e9."},
  };
  for (const auto& [message, shown] : cases) {
    EXPECT_EQ(ErrorBoxText(QString::fromUtf8(message)), QString::fromUtf8(shown)) << message;
  }
}

TEST(QtDisplaysTest, BarsClampWrapAndKeepTheirPositionOverRangeChanges) {
  QProgressBar bar;
  bar.setRange(0, 100);
  bar.setValue(0);
  QtProgressDisplay display(&bar);
  display.SetPosition(150);
  EXPECT_EQ(display.Position(), 100);
  display.SetPosition(-5);
  EXPECT_EQ(display.Position(), 0);
  display.SetPosition(70);
  display.SetMaximum(63);
  EXPECT_EQ(display.Position(), 63);
  display.StepIt();
  EXPECT_EQ(display.Position(), 0);
  display.StepIt();
  EXPECT_EQ(display.Position(), 1);
  display.SetMaximum(100);
  EXPECT_EQ(display.Position(), 1);
}

}  // namespace
}  // namespace strata
