#include "Clock.h"

#include <QUrl>

#include <utility>

namespace {

// A date or time format split into its fields (runs of one unquoted letter)
// and the text between them (quoted text and other characters), so that
// fields can be replaced without touching literal text.
struct TFormatPiece {
    QString text;
    bool field = false;
};

QList<TFormatPiece> SplitFormat(const QString& format) {
    QList<TFormatPiece> pieces;
    const auto addLiteral = [&pieces](const QString& text) {
        if (!pieces.isEmpty() && !pieces.last().field)
            pieces.last().text += text;
        else
            pieces.append({text, false});
    };
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\'')) {
            // Quoted text, '' standing for one quote, up to the closing quote.
            qsizetype end = i + 1;
            while (end < format.size()) {
                if (format.at(end) == QLatin1Char('\'')) {
                    if (end + 1 < format.size() && format.at(end + 1) == QLatin1Char('\''))
                        end += 2;
                    else
                        break;
                } else {
                    ++end;
                }
            }
            addLiteral(format.mid(i, end + 1 - i));
            i = end + 1;
        } else if (c.isLetter()) {
            qsizetype end = i + 1;
            while (end < format.size() && format.at(end) == c)
                ++end;
            pieces.append({format.mid(i, end - i), true});
            i = end;
        } else {
            addLiteral(QString(c));
            ++i;
        }
    }
    return pieces;
}

QString JoinFormat(const QList<TFormatPiece>& pieces) {
    QString format;
    for (const TFormatPiece& piece : pieces)
        format += piece.text;
    return format;
}

// The locale's short date format with a four-digit year.
QString ShortDateFormat(const QLocale& locale) {
    QList<TFormatPiece> pieces = SplitFormat(locale.dateFormat(QLocale::ShortFormat));
    for (TFormatPiece& piece : pieces) {
        if (piece.field && piece.text == QLatin1String("yy"))
            piece.text = QStringLiteral("yyyy");
    }
    return JoinFormat(pieces);
}

// The locale's long time format without the time zone field and the spaces
// that set it apart.
QString LongTimeFormat(const QLocale& locale) {
    QList<TFormatPiece> pieces = SplitFormat(locale.timeFormat(QLocale::LongFormat));
    QList<TFormatPiece> kept;
    for (const TFormatPiece& piece : std::as_const(pieces)) {
        if (piece.field && piece.text.startsWith(QLatin1Char('t'))) {
            if (!kept.isEmpty() && !kept.last().field) {
                QString& before = kept.last().text;
                while (!before.isEmpty() && before.back().isSpace())
                    before.chop(1);
            }
            continue;
        }
        kept.append(piece);
    }
    return JoinFormat(kept).trimmed();
}

} // namespace

QString DateText(const QDateTime& moment, const QLocale& locale) {
    return QStringLiteral("Дата: ") + locale.toString(moment.date(), ShortDateFormat(locale)) +
           QStringLiteral(" г.");
}

QString TimeText(const QDateTime& moment, const QLocale& locale) {
    return QStringLiteral("Время: ") + locale.toString(moment.time(), LongTimeFormat(locale));
}

QString ProjectSiteName() {
    return QUrl(QString::fromLatin1(kProjectSite)).host();
}

QString NoticeText(const QDate& today) {
    return QStringLiteral("%1-%2 © %3")
        .arg(kNoticeFirstYear)
        .arg(today.year(), 4, 10, QLatin1Char('0'))
        .arg(ProjectSiteName());
}
