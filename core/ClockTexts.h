// The texts of the main window's clock lines: the date, the time and the
// notice with the years and the project's web site, made from what the
// system's locale formats. Formats are the locale's date and time pictures
// (letters repeated for a field, quoted text as is), in UTF-8.
#pragma once

#include <string>

// The project's web site, opened by the "site" command; the notice line
// names its host.
inline constexpr const char* kProjectSite = "https://quenmor.example/";
// The first year of the notice line.
inline constexpr int kNoticeFirstYear = 2009;

// `format` with a two-digit year field ("yy") written with four digits, as
// the short date formats of Windows have it.
std::string FourDigitYear(const std::string& format);

// `format` without the fields of `letter` and the spaces (also the no-break
// ones) that set them apart, trimmed: the long time format without its time
// zone where the locale's pictures have one.
std::string WithoutField(const std::string& format, char letter);

// "Дата: " + the date + " г.".
std::string DateLine(const std::string& date);

// "Время: " + the time.
std::string TimeLine(const std::string& time);

// "2009-<year> © <host of kProjectSite>" (it fits the notice line).
std::string NoticeText(int year);

// The host part of kProjectSite ("quenmor.example").
std::string ProjectSiteName();
