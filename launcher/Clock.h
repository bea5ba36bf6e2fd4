// The texts the main window rewrites every second, from Qt's locale: the
// date, the time and the notice line (see ClockTexts).
#pragma once

#include "ClockTexts.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>

// "Дата: " + the date in the locale's short date format + " г.". A two-digit
// year in that format is written with four digits, as the short date formats
// of Windows have it (Russian: "07.12.2026", US English: "12/7/2026").
QString DateText(const QDateTime& moment, const QLocale& locale);

// "Время: " + the time in the locale's long time format without its time
// zone (Russian: "09:05:03", US English: "9:05:03 AM").
QString TimeText(const QDateTime& moment, const QLocale& locale);

// "2009-<year of today> © <host of kProjectSite>" (it fits the notice line).
QString NoticeText(const QDate& today);
