// The date, time and notice texts of the main window.
#include "Clock.h"

#include <QtTest>

class ClockTest : public QObject {
    Q_OBJECT

private slots:
    void russianDate();
    void russianTimeHasSeconds();
    void englishDateAndTime();
    void twoDigitYearsAreWidened();
    void timeZoneIsLeftOut();
    void noticeUsesTheYearOfTheDate();
    void siteIsNamedOnce();
};

namespace {

const QDateTime Moment(QDate(2026, 12, 7), QTime(9, 5, 3));

}

void ClockTest::russianDate() {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    QCOMPARE(DateText(Moment, ru), QStringLiteral("Дата: 07.12.2026 г."));
    QCOMPARE(DateText(QDateTime(QDate(2027, 1, 31), QTime(23, 59, 59)), ru),
             QStringLiteral("Дата: 31.01.2027 г."));
}

void ClockTest::russianTimeHasSeconds() {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    QCOMPARE(TimeText(Moment, ru), QStringLiteral("Время: 09:05:03"));
    QCOMPARE(TimeText(QDateTime(QDate(2026, 12, 7), QTime(23, 0, 59)), ru),
             QStringLiteral("Время: 23:00:59"));
}

void ClockTest::englishDateAndTime() {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    QCOMPARE(DateText(Moment, us), QStringLiteral("Дата: 12/7/2026 г."));
    QCOMPARE(TimeText(Moment, us), QStringLiteral("Время: 9:05:03 AM"));
    const QLocale gb(QLocale::English, QLocale::UnitedKingdom);
    QCOMPARE(DateText(Moment, gb), QStringLiteral("Дата: 07/12/2026 г."));
    QCOMPARE(TimeText(Moment, gb), QStringLiteral("Время: 09:05:03"));
}

void ClockTest::twoDigitYearsAreWidened() {
    const QLocale de(QLocale::German, QLocale::Germany);
    QCOMPARE(DateText(Moment, de), QStringLiteral("Дата: 07.12.2026 г."));
    // Whatever the locale, the year is the full one.
    for (const QLocale& locale :
         QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyCountry)) {
        const QString text = DateText(Moment, locale);
        const QString year = locale.toString(2026).remove(locale.groupSeparator());
        if (!text.contains(year) && !text.contains(QStringLiteral("2026")))
            QFAIL(qPrintable(locale.name() + QStringLiteral(": ") + text));
    }
}

void ClockTest::timeZoneIsLeftOut() {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    const QDateTime utc(QDate(2026, 12, 7), QTime(9, 5, 3), Qt::UTC);
    QCOMPARE(TimeText(utc, ru), QStringLiteral("Время: 09:05:03"));
    const QLocale c = QLocale::c();
    QCOMPARE(TimeText(utc, c), QStringLiteral("Время: 09:05:03"));
    // No locale leaves a zone name or a stray space behind.
    for (const QLocale& locale :
         QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyCountry)) {
        const QString text = TimeText(utc, locale);
        if (text.contains(QStringLiteral("UTC")) || text != text.trimmed() ||
            text.contains(QStringLiteral("  ")))
            QFAIL(qPrintable(locale.name() + QStringLiteral(": ") + text));
    }
}

void ClockTest::noticeUsesTheYearOfTheDate() {
    QCOMPARE(NoticeText(QDate(2026, 12, 7)), QStringLiteral("2009-2026 © quenmor.example"));
    QCOMPARE(NoticeText(QDate(2031, 1, 1)), QStringLiteral("2009-2031 © quenmor.example"));
}

void ClockTest::siteIsNamedOnce() {
    QCOMPARE(QString::fromLatin1(kProjectSite), QStringLiteral("https://quenmor.example/"));
    QCOMPARE(QString::fromStdString(ProjectSiteName()), QStringLiteral("quenmor.example"));
}

QTEST_MAIN(ClockTest)
#include "ClockTest.moc"
