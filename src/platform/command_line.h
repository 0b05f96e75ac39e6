#pragma once

#include <QString>
#include <QStringList>

namespace platform {

/// Puts `text` between double quotes so that SplitCommandLine gives it back unchanged.
/// A text without `"` and without a trailing `\` becomes exactly `"` + text + `"`; otherwise
/// backslashes that precede a quote are doubled and each quote is written as `\"`, the
/// Windows command-line rules.
QString QuoteArg(const QString& text);

/// A path as a command line writes it without quotes of its own: as it is, or QuoteArg of it
/// when a blank, a tab or a `"` would split or change it. Plain paths keep their exact text.
QString QuoteIfNeeded(const QString& path);

/// Splits a command line into arguments by the Windows rules (those of the C runtime):
/// blanks separate arguments outside quotes; `"` toggles quoting; `""` inside quotes is a
/// literal quote; 2n backslashes before `"` give n backslashes and a quote that toggles,
/// 2n+1 give n backslashes and a literal `"`; other backslashes are literal. The first
/// argument, the program, ends at the first blank outside quotes and its quotes are dropped;
/// its backslashes are literal unless they stand before a quote, where they follow the rule
/// above (a Windows program name holds no quote, a Linux one may).
QStringList SplitCommandLine(const QString& commandLine);

} // namespace platform
