// The texts the main window rewrites every second: the date, the time and the
// notice line with the years and the project's web site.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>

// The project's web site, opened by the "site" command; the notice line
// names its host.
inline constexpr const char* kProjectSite = "https://quenmor.example/";
// The first year of the notice line.
inline constexpr int kNoticeFirstYear = 2009;

// "Дата: " + the date in the locale's short date format + " г.". A two-digit
// year in that format is written with four digits, as the short date formats
// of Windows have it (Russian: "07.12.2026", US English: "12/7/2026").
QString DateText(const QDateTime& moment, const QLocale& locale);

// "Время: " + the time in the locale's long time format without its time
// zone (Russian: "09:05:03", US English: "9:05:03 AM").
QString TimeText(const QDateTime& moment, const QLocale& locale);

// "2009-<year of today> © <host of kProjectSite>" (it fits the notice line).
QString NoticeText(const QDate& today);

// The host part of kProjectSite ("quenmor.example").
QString ProjectSiteName();
