// The window's side of the lookup view; see qt_view.h.
#include "app/window/qt_view.h"

#include <QLabel>
#include <QMetaObject>
#include <QPalette>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextCursor>

#include <utility>

namespace quillon {

QString BytesToQString(const std::string& bytes) {
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

TQtView::TQtView(QObject* context, TQtViewWidgets widgets) : context_(context), widgets_(widgets) {}

template <typename F>
void TQtView::Post(F change) {
  std::lock_guard<std::mutex> guard(postLock_);
  if (closed_.load() || !context_) return;
  posted_.fetch_add(1);
  // Queued even from the window's own thread, so that every change keeps
  // its place in one queue.
  QMetaObject::invokeMethod(
      context_.data(),
      [this, change = std::move(change)]() {
        if (!closed_.load()) change();
      },
      Qt::QueuedConnection);
}

void TQtView::ClearText() {
  Post([this] {
    widgets_.Memo->clear();
    lines_ = 0;
  });
}

void TQtView::AppendLine(const std::string& line) {
  Post([this, text = BytesToQString(line)] {
    // A cursor at the end rather than appendPlainText, which would fold an
    // empty first line into the next one.
    QTextCursor cursor(widgets_.Memo->document());
    cursor.movePosition(QTextCursor::End);
    if (lines_ > 0) cursor.insertBlock();
    cursor.insertText(text);
    ++lines_;
    widgets_.Memo->verticalScrollBar()->setValue(widgets_.Memo->verticalScrollBar()->maximum());
  });
}

void TQtView::ReplaceText(const std::string& text) {
  // A final line break ends the last line; it starts no empty one (a line
  // appended next follows directly).
  std::string body = text;
  if (!body.empty() && body.back() == '\n') body.pop_back();
  Post([this, empty = text.empty(), content = BytesToQString(body)] {
    widgets_.Memo->setPlainText(content);
    lines_ = empty ? 0 : widgets_.Memo->document()->blockCount();
  });
}

QLabel* TQtView::LabelOf(TInfoLabel label) const {
  switch (label) {
    case TInfoLabel::Online:
      return widgets_.Online;
    case TInfoLabel::IP1:
      return widgets_.IP1;
    case TInfoLabel::Local:
      return widgets_.Local;
    case TInfoLabel::IP2:
      return widgets_.IP2;
  }
  return widgets_.Online;
}

void TQtView::SetCaption(TInfoLabel label, const std::string& caption) {
  Post([target = LabelOf(label), text = BytesToQString(caption)] {
    target->setText(text);
    target->adjustSize();  // the Local Info labels size themselves to their text
  });
}

void TQtView::SetColour(TInfoLabel label, TColour colour) {
  Post([target = LabelOf(label), colour] {
    QPalette palette = target->palette();
    palette.setColor(QPalette::WindowText, QColor(colour.Red, colour.Green, colour.Blue));
    target->setPalette(palette);
  });
}

void TQtView::SetWaitVisible(bool visible) {
  Post([target = widgets_.Wait, visible] { target->setVisible(visible); });
}

void TQtView::Close() {
  std::lock_guard<std::mutex> guard(postLock_);
  closed_.store(true);
}

TQtMainThreadDispatcher::TQtMainThreadDispatcher(QObject* context) : context_(context) {}

void TQtMainThreadDispatcher::Detach() {
  {
    std::lock_guard<std::mutex> guard(wakeLock_);
    context_ = nullptr;
  }
  Shutdown();
}

void TQtMainThreadDispatcher::Wake() {
  std::lock_guard<std::mutex> guard(wakeLock_);
  if (!context_) return;
  // The event is dropped with `context` if it goes first; the dispatcher
  // outlives `context` (Detach comes before it goes).
  QMetaObject::invokeMethod(
      context_, [this] { ServePending(); }, Qt::QueuedConnection);
}

TQtDispatcherScope::TQtDispatcherScope(QObject* context)
    : dispatcher_(std::make_shared<TQtMainThreadDispatcher>(context)) {
  SetMainThreadDispatcher(dispatcher_);
}

TQtDispatcherScope::~TQtDispatcherScope() {
  dispatcher_->Detach();
  if (MainThreadDispatcher() == dispatcher_) SetMainThreadDispatcher(nullptr);
}

}  // namespace quillon
