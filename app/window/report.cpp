// The report of the text area; see report.h.
#include "app/window/report.h"

#include <QSaveFile>

namespace quillon {

QString OperationName(int code) {
  switch (code) {
    case 1:
      return QStringLiteral("Whois");
    case 2:
      return QStringLiteral("DNS Mx");
    case 3:
      return QStringLiteral("Ping");
    case 4:
      return QStringLiteral("Trace Route");
    default:
      return {};
  }
}

QString ReportText(const QString& version, const TReportSubject& subject, const QString& text) {
  const int offset = subject.start.offsetFromUtc() / 60;
  const QString zone = QStringLiteral("%1%2%3")
                           .arg(offset < 0 ? '-' : '+')
                           .arg(std::abs(offset) / 60, 2, 10, QChar('0'))
                           .arg(std::abs(offset) % 60, 2, 10, QChar('0'));
  QString report = QStringLiteral("Quillon ") + version + QStringLiteral(", ") +
                   OperationName(subject.code) + QStringLiteral(" for ") + subject.host +
                   QStringLiteral(", ") +
                   subject.start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + zone +
                   QStringLiteral("\n\n");
  if (!text.isEmpty()) report += text + QStringLiteral("\n");
  return report;
}

QString ReportFileName(const TReportSubject& subject) {
  QString host = subject.host.left(100);
  for (QChar& c : host)
    if (c == '/' || c == '\\' || c == ':' || c.isSpace() || c.category() == QChar::Other_Control ||
        c.category() == QChar::Other_Format)
      c = '_';
  return QStringLiteral("quillon-") + host + QStringLiteral("-") +
         subject.start.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".txt");
}

bool WriteReportFile(const QString& path, const QString& report) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = report.toUtf8();
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

}  // namespace quillon
