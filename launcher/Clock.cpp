#include "Clock.h"

namespace {

std::string Utf8(const QString& text) {
    return text.toStdString();
}

} // namespace

QString DateText(const QDateTime& moment, const QLocale& locale) {
    const QString format =
        QString::fromStdString(FourDigitYear(Utf8(locale.dateFormat(QLocale::ShortFormat))));
    return QString::fromStdString(DateLine(Utf8(locale.toString(moment.date(), format))));
}

QString TimeText(const QDateTime& moment, const QLocale& locale) {
    // In Qt's pictures "t" is the time zone.
    const QString format =
        QString::fromStdString(WithoutField(Utf8(locale.timeFormat(QLocale::LongFormat)), 't'));
    return QString::fromStdString(TimeLine(Utf8(locale.toString(moment.time(), format))));
}

QString NoticeText(const QDate& today) {
    return QString::fromStdString(::NoticeText(today.year()));
}
