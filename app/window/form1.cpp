// The main window; see form1.h.
#include "app/window/form1.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCompleter>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringListModel>
#include <QUrl>

#include "app/lookup/domain_helpers.h"
#include "app/lookup/quillon_conf.h"

namespace quillon {
namespace {

// "MS Sans Serif" does not exist here. Liberation Sans has the widths of the
// fonts the window was laid out with, so captions that sit side by side at
// fixed places ("Online" and the address) do not run into each other; when
// it is missing, the desktop's sans-serif family is used. Heights are those
// of the window's definition.
QFont SansFont(int pixelHeight, bool bold) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  if (QFontDatabase::families().contains(QStringLiteral("Liberation Sans")))
    font.setFamily(QStringLiteral("Liberation Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelHeight);
  font.setBold(bold);
  return font;
}

}  // namespace

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit clicked();
}

TForm1::TForm1(const RunnerFactory& makeRunner, QWidget* parent)
    : QWidget(parent), confPath_(QuillonConfPath()) {
  AskReportPath = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Save Report As"), suggested,
                                        QStringLiteral("Text files (*.txt);;All files (*)"));
  };
  history_.Load(confPath_);
  BuildControls();
  view_ = std::make_unique<TQtView>(this, TQtViewWidgets{Memo1, Online, IP1, Local, IP2, Label2});
  runner_ = makeRunner(*view_);
  // FormCreate: PendingOperation 0, both threads created suspended.
  waitIndicator_ = std::make_unique<TWaitThread>(*view_);
  lookupWorker_ = std::make_unique<TMyWhois>(*runner_, *waitIndicator_);
  lookupWorker_->SetPendingOperation(opLocalInfo, edHost->text().toStdString());
}

TForm1::~TForm1() {
  if (!closing_) EndThreads(kCloseLimit);
}

void TForm1::BuildControls() {
  setWindowTitle(QString::fromUtf8(kWindowCaption));
  // Single fixed border, system menu and minimise only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setGeometry(225, 149, 615, 526);
  setFixedSize(615, 526);
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  setFont(SansFont(11, false));

  edHost = new QLineEdit(QString::fromUtf8(kDefaultHost), this);
  edHost->setObjectName("edHost");
  edHost->setGeometry(8, 8, 193, 21);
  edHost->installEventFilter(this);
  // The names used before, offered inline as the text is typed, most recent
  // first: the box stays a plain line edit, no pop-up list.
  QStringList names;
  for (const std::string& name : history_.Names()) names << QString::fromUtf8(name);
  historyModel_ = new QStringListModel(names, this);
  hostCompleter_ = new QCompleter(historyModel_, this);
  hostCompleter_->setCompletionMode(QCompleter::InlineCompletion);
  hostCompleter_->setCaseSensitivity(Qt::CaseInsensitive);
  hostCompleter_->setModelSorting(QCompleter::UnsortedModel);
  edHost->setCompleter(hostCompleter_);

  auto makeButton = [this](const char* name, const char* caption, int top) {
    auto* button = new QPushButton(QString::fromUtf8(caption), this);
    button->setObjectName(name);
    button->setGeometry(8, top, 193, 17);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
  };
  bwhois = makeButton("bwhois", "Whois", 32);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(208, 8, 401, 513);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // Tab and Shift+Tab move focus along the tab order instead of typing a
  // TAB, so that a keyboard user can reach the buttons after the text area.
  Memo1->setTabChangesFocus(true);
  Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Memo1, &QWidget::customContextMenuRequested, this, &TForm1::Memo1ContextMenu);

  bdns = makeButton("bdns", "DNS Mx", 56);
  btping = makeButton("btping", "Ping", 80);

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setGeometry(8, 480, 193, 41);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

  Label1 = new TClickLabel(QString::fromUtf8(kMakerName) + "\n" + QString::fromUtf8(kMakerAddress),
                           Panel1);
  Label1->setObjectName("Label1");
  Label1->setGeometry(32, 8, 124, 26);
  Label1->setFont(SansFont(11, true));
  // The window paints with the button role; labels must draw with the
  // window-text colour that their palettes carry, or the colours set on them
  // never show.
  Label1->setForegroundRole(QPalette::WindowText);
  Label1->setTextFormat(Qt::PlainText);
  Label1->setCursor(Qt::PointingHandCursor);
  {
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Link));
    Label1->setPalette(palette);
  }
  connect(Label1, &TClickLabel::clicked, this, &TForm1::Label1Click);

  bttracert = makeButton("bttracert", "Trace Route", 104);

  GroupBox1 = new QGroupBox(QStringLiteral("Local Info"), this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setGeometry(8, 376, 193, 97);
  auto makeInfoLabel = [this](const char* name, int left, int top) {
    auto* label = new QLabel(GroupBox1);
    label->setObjectName(name);
    label->setGeometry(left, top, 5, 16);
    label->setFont(SansFont(13, true));
    label->setForegroundRole(QPalette::WindowText);
    // The captions come from the network (the public-address body): shown as
    // typed, never as rich text that could draw markup or load files.
    label->setTextFormat(Qt::PlainText);
    return label;
  };
  Online = makeInfoLabel("Online", 8, 24);
  IP1 = makeInfoLabel("IP1", 56, 24);
  Local = makeInfoLabel("Local", 8, 64);
  IP2 = makeInfoLabel("IP2", 56, 64);

  Label2 = new QLabel(QStringLiteral("Please Wait !"), this);
  Label2->setObjectName("Label2");
  Label2->setGeometry(24, 128, 154, 29);
  Label2->setFont(SansFont(24, true));
  Label2->setTextFormat(Qt::PlainText);
  Label2->setForegroundRole(QPalette::WindowText);
  Label2->setVisible(false);

  setTabOrder(edHost, bwhois);
  setTabOrder(bwhois, Memo1);
  setTabOrder(Memo1, bdns);
  setTabOrder(bdns, btping);
  setTabOrder(btping, bttracert);

  connect(bwhois, &QPushButton::clicked, this, &TForm1::bwhoisClick);
  connect(bdns, &QPushButton::clicked, this, &TForm1::bdnsClick);
  connect(btping, &QPushButton::clicked, this, &TForm1::btpingClick);
  connect(bttracert, &QPushButton::clicked, this, &TForm1::bttracertClick);
}

void TForm1::StartOperation(int code) {
  if (closing_) return;
  const QString host = edHost->text();
  const QDateTime start = QDateTime::currentDateTime();
  const bool runs = lookupWorker_->Request(code, host.toUtf8().toStdString());
  if (code == opLocalInfo) return;
  RememberHost(host);
  // The report follows what the text area shows: a request dropped while
  // the worker is busy changes nothing there.
  if (runs) reportSubject_ = TReportSubject{code, host, start};
}

void TForm1::RememberHost(const QString& host) {
  if (!history_.Add(host.toUtf8().toStdString())) return;
  QStringList names;
  for (const std::string& name : history_.Names()) names << QString::fromUtf8(name);
  historyModel_->setStringList(names);
  // A history that cannot be written is only a convenience lost.
  history_.Save(confPath_);
}

QMenu* TForm1::CreateMemo1Menu() {
  auto* menu = new QMenu(this);
  // Read-only entries, as the desktop's own menu for text that is shown.
  const auto withKeys = [](const char* text, QKeySequence::StandardKey key) {
    return QString::fromUtf8(text) + QLatin1Char('\t') +
           QKeySequence(key).toString(QKeySequence::NativeText);
  };
  QAction* copy = menu->addAction(withKeys("&Copy", QKeySequence::Copy), Memo1,
                                  &QPlainTextEdit::copy);
  copy->setObjectName("copy");
  copy->setEnabled(Memo1->textCursor().hasSelection());
  QAction* selectAll = menu->addAction(withKeys("Select &All", QKeySequence::SelectAll), Memo1,
                                       &QPlainTextEdit::selectAll);
  selectAll->setObjectName("selectAll");
  selectAll->setEnabled(!Memo1->document()->isEmpty());
  menu->addSeparator();
  QAction* copyReport =
      menu->addAction(QStringLiteral("Copy &Report"), this, &TForm1::CopyReport);
  copyReport->setObjectName("copyReport");
  QAction* saveReport = menu->addAction(QString::fromUtf8("&Save Report As\u2026"), this,
                                        &TForm1::SaveReportAs);
  saveReport->setObjectName("saveReportAs");
  copyReport->setEnabled(reportSubject_.has_value());
  saveReport->setEnabled(reportSubject_.has_value());
  return menu;
}

void TForm1::Memo1ContextMenu(const QPoint& position) {
  const std::unique_ptr<QMenu> menu(CreateMemo1Menu());
  menu->exec(Memo1->viewport()->mapToGlobal(position));
}

QString TForm1::Report() const {
  if (!reportSubject_) return {};
  return ReportText(QString::fromUtf8(kVersion), *reportSubject_, Memo1->toPlainText());
}

void TForm1::CopyReport() {
  if (reportSubject_) QGuiApplication::clipboard()->setText(Report());
}

void TForm1::SaveReportAs() {
  if (!reportSubject_) return;
  // The text as it is when the command is chosen, not once the dialog ends.
  const QString report = Report();
  const QString path = AskReportPath(QDir::home().filePath(ReportFileName(*reportSubject_)));
  if (path.isEmpty()) return;
  if (!WriteReportFile(path, report))
    QMessageBox::warning(this, QStringLiteral("Save Report As"),
                         QStringLiteral("The report could not be saved to %1.")
                             .arg(QDir::toNativeSeparators(path)));
}

void TForm1::FormActivate() {
  StartOperation(opLocalInfo);
}
void TForm1::bwhoisClick() {
  StartOperation(opWhois);
}
void TForm1::bdnsClick() {
  StartOperation(opDnsMx);
}
void TForm1::btpingClick() {
  StartOperation(opPing);
}
void TForm1::bttracertClick() {
  StartOperation(opTraceRoute);
}

void TForm1::edHostExit() {
  QString text = edHost->text();
  for (QChar& c : text)
    if (c >= QChar('A') && c <= QChar('Z')) c = QChar(c.unicode() - 'A' + 'a');
  if (text != edHost->text()) edHost->setText(text);
}

void TForm1::Label1Click() {
  QDesktopServices::openUrl(QUrl(QString::fromUtf8(kMakerUrl)));
}

bool TForm1::event(QEvent* event) {
  // The window's own activation event fires once in this one-window
  // program; the desktop's activation on every return to the program does
  // not start a new local-information run.
  if (event->type() == QEvent::WindowActivate && !activatedOnce_) {
    activatedOnce_ = true;
    FormActivate();
  }
  return QWidget::event(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edHost && event->type() == QEvent::FocusOut) edHostExit();
  return QWidget::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  EndThreads(kCloseLimit);
  event->accept();
}

bool TForm1::EndThreads(std::chrono::milliseconds limit) {
  if (closing_) return threadsEnded_;
  closing_ = true;
  view_->Close();  // nothing is written once closing has started
  waitIndicator_->Terminate();
  threadsEnded_ = lookupWorker_->Terminate(limit);
  return threadsEnded_;
}

}  // namespace quillon
