// The report of what the text area shows, for Copy Report and Save Report
// As...: a heading naming the program, the operation, its host and the local
// time it started, an empty line, then the text area's lines.
#pragma once

#include <QDateTime>
#include <QString>

namespace quillon {

// What a report is about: the operation that a button started (its code,
// the edit box's text, the local time it started).
struct TReportSubject {
  int code = 0;
  QString host;
  QDateTime start;
};

// "Whois", "DNS Mx", "Ping" or "Trace Route"; empty for any other code.
QString OperationName(int code);

// "Quillon VERSION, OPERATION for HOST, YYYY-MM-DD HH:MM:SS +ZZZZ", an empty
// line, then `text`'s lines, each ending in LF.
QString ReportText(const QString& version, const TReportSubject& subject, const QString& text);

// quillon-HOST-YYYYMMDD-HHMMSS.txt, the host made safe for a file name
// (separators, blanks and control characters become '_', at most 100
// characters).
QString ReportFileName(const TReportSubject& subject);

// Writes `report` as UTF-8 to `path`, replacing the file in one step.
bool WriteReportFile(const QString& path, const QString& report);

}  // namespace quillon
