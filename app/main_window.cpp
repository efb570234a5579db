#include "app/main_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

#include <optional>

#include "app/registry_lookup.h"
#include "app/window_images.h"
#include "update/catalogue.h"

namespace strata {

namespace {

constexpr char kCaption[] = "Data Update Utility";

constexpr char kNotice[] =
    "Click 'Update Database Structure' to update your database to the latest version. This "
    "utility only needs to be run once, but will not harm your database if run more than once."
    "\r\n\r\n"
    "NOTE : It is always advisable to do a backup before updating your database.";

// Qt draws nothing for the carriage returns: the lines show as written.
constexpr char kUpdatedMessage[] =
    "Your data has been updated.  Close this\r\n"
    "popup and the Update Utility and you\r\n"
    "can start your Program.";

constexpr int kClientWidth = 483;
constexpr int kClientHeight = 279;

// The platform's default sans-serif font at the given size.
QFont SansSerif(int points) {
  QFont font(QStringLiteral("Sans Serif"), points);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QLabel* TopLeft(QLabel* label) {
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setTextFormat(Qt::PlainText);
  return label;
}

void SetUpBar(QProgressBar* bar) {
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
}

// The wait cursor for the life of the object.
class WaitCursor {
 public:
  WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
};

}  // namespace

TfMain::TfMain(UpdateRoutine update, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      Panel2(new QFrame(this)),
      bUpdate(new QPushButton(Panel2)),
      Label1(new QLabel(Panel2)),
      GroupBox1(new QGroupBox(Panel2)),
      Label2(new QLabel(GroupBox1)),
      lTableName(new QLabel(GroupBox1)),
      pbRestructure(new QProgressBar(GroupBox1)),
      Label3(new QLabel(GroupBox1)),
      pbTables(new QProgressBar(GroupBox1)),
      update_(std::move(update)),
      overallDisplay_(pbTables),
      restructureDisplay_(pbRestructure),
      tableNameDisplay_(lTableName) {
  setWindowTitle(QString::fromUtf8(kCaption));
  setWindowIcon(ApplicationIcon());
  setFont(SansSerif(8));
  setFixedSize(kClientWidth, kClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel2->setGeometry(0, 0, kClientWidth, kClientHeight);

  Label1->setGeometry(21, 18, 427, 97);
  Label1->setFont(SansSerif(10));
  Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label1->setWordWrap(true);
  Label1->setTextFormat(Qt::PlainText);
  Label1->setText(QString::fromUtf8(kNotice));

  bUpdate->setGeometry(145, 139, 193, 28);
  bUpdate->setText(QStringLiteral("Update Database Structure"));
  bUpdate->setIcon(QIcon(UpdateButtonGlyph()));
  bUpdate->setIconSize(QSize(16, 16));
  connect(bUpdate, &QPushButton::clicked, this, &TfMain::bUpdateClick);

  GroupBox1->setGeometry(12, 180, 459, 87);
  GroupBox1->setTitle(QString());

  // Label2 and Label3 size themselves to their text from their top-left
  // corner; lTableName keeps its size and clips.
  TopLeft(Label2)->setText(QStringLiteral("Table : "));
  Label2->setGeometry(9, 15, 36, 13);
  Label2->adjustSize();
  TopLeft(lTableName)->setGeometry(48, 15, 103, 13);
  TopLeft(Label3)->setText(QStringLiteral("Overall"));
  Label3->setGeometry(9, 40, 33, 13);
  Label3->adjustSize();

  pbRestructure->setGeometry(159, 14, 292, 16);
  SetUpBar(pbRestructure);
  pbTables->setGeometry(9, 61, 442, 16);
  SetUpBar(pbTables);

  // The button comes first in the tab order and has the focus at start.
  setTabOrder(bUpdate, GroupBox1);
  bUpdate->setFocus();
}

void TfMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();  // not when the window system restores it
}

void TfMain::FormShow() {
  overallDisplay_.SetMaximum(static_cast<std::int32_t>(Catalogue().size()));
  setWindowTitle(QString::fromUtf8(kCaption));
}

void TfMain::bUpdateClick() {
  std::optional<QString> failure;
  {
    const WaitCursor wait;
    try {
      const std::string directory =
          ReadRegistryString(HKEY_CURRENT_USER, kDataPathRegistryPath, "");
      update_(directory, &overallDisplay_, &restructureDisplay_, &tableNameDisplay_);
    } catch (const std::exception& error) {
      failure = ErrorMessage(error);
    } catch (...) {
      failure = QStringLiteral("An unexpected error occurred");
    }
  }
  const QString caption = QString::fromUtf8(kApplicationTitle);
  if (failure) {
    showMessage_({caption, ErrorBoxText(*failure), QMessageBox::Critical});
  } else {
    showMessage_({caption, QString::fromUtf8(kUpdatedMessage), QMessageBox::NoIcon});
  }
}

}  // namespace strata
