#pragma once

#include <QString>
#include <QUrl>
#include <functional>

// Where the Help, Home page and Support commands lead, and the one place that hands addresses to
// the desktop (browser, mail program). Results are not examined: a missing browser or mail
// program is the desktop's to report.

// The vendor's home page, naming the product version in its query.
QUrl HomePageUrl();
// A new support mail with the product and version in its subject.
QUrl SupportUrl();

// The help file of an executable: its path with the extension ".html" in place of its own
// (".exe" where there is one), so a renamed executable looks for a help file of its own name.
// An installed executable has no such file beside it (bin holds programs only): its page of
// the same name in the installation's share/kestrine is taken when that exists.
QString HelpFilePathFor(const QString& executablePath);

// Opens an address with the desktop's handler. Tests install an opener to observe the calls;
// an empty function restores the desktop's.
using UrlOpener = std::function<bool(const QUrl&)>;
void SetUrlOpener(UrlOpener opener);
bool OpenUrl(const QUrl& url);
