#include "Frm2.h"

#include "Errors.h"
#include "Files.h"
#include "Fonts.h"
#include "LauncherLog.h"
#include "Messages.h"
#include "Misc.h"
#include "Profile.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <QUrl>

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string_view>

namespace {

// The colours of the dialog's controls over the dark skin.
const QColor kTextColor(202, 202, 202);
const QColor kButtonTextColor(232, 232, 232);
const QColor kCheckBoxColor(34, 53, 83);
const QColor kListColor(47, 60, 83);

// The lists: flat, dark, with a light arrow.
const char* const kListStyle = R"(
QComboBox {
    background-color: rgb(47, 60, 83);
    color: rgb(202, 202, 202);
    border: 1px solid rgb(88, 108, 140);
    padding: 0px 2px 0px 4px;
}
QComboBox:hover, QComboBox:focus { border-color: rgb(140, 162, 196); }
QComboBox:disabled { color: rgb(120, 128, 140); border-color: rgb(64, 76, 98); }
QComboBox QAbstractItemView {
    background-color: rgb(47, 60, 83);
    color: rgb(202, 202, 202);
    border: 1px solid rgb(140, 162, 196);
    selection-background-color: rgb(82, 106, 146);
    selection-color: rgb(255, 255, 255);
    outline: 0px;
}
)";

// The two buttons: flat over the skin until the pointer is on them.
const char* const kButtonStyle = R"(
QPushButton {
    color: rgb(232, 232, 232);
    background-color: rgba(255, 255, 255, 14);
    border: 1px solid rgb(74, 92, 122);
    border-radius: 2px;
    padding: 0px;
}
QPushButton:hover { background-color: rgba(255, 255, 255, 34); border-color: rgb(140, 162, 196); }
QPushButton:pressed { background-color: rgba(0, 0, 0, 70); border-color: rgb(140, 162, 196); }
QPushButton:disabled { color: rgb(120, 128, 140); }
)";

// The link to the log's folder: a line of underlined text, lighter under the
// pointer.
const char* const kLinkStyle = R"(
QPushButton {
    color: rgb(140, 162, 196);
    background: transparent;
    border: none;
    padding: 0px;
    text-decoration: underline;
}
QPushButton:hover { color: rgb(202, 202, 202); }
QPushButton:pressed { color: rgb(232, 232, 232); }
)";

// Draws the check boxes' boxes and the lists' arrows to match the dark
// controls; everything else is Fusion's.
class DarkControlsStyle : public QProxyStyle {
public:
    DarkControlsStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_IndicatorCheckBox) {
            DrawCheckBox(option, painter);
            return;
        }
        if (element == PE_IndicatorArrowDown) {
            DrawArrow(option, painter);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_IndicatorWidth || metric == PM_IndicatorHeight)
            return 13;
        if (metric == PM_CheckBoxLabelSpacing)
            return 5;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

private:
    static void DrawCheckBox(const QStyleOption* option, QPainter* painter) {
        const bool enabled = (option->state & State_Enabled) != 0;
        const bool hover = (option->state & State_MouseOver) != 0;
        const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(QPen(!enabled ? QColor(64, 76, 98)
                             : hover  ? QColor(160, 180, 212)
                                      : QColor(108, 128, 160),
                             1.0));
        painter->setBrush((option->state & State_Sunken) != 0 ? QColor(30, 40, 58) : kListColor);
        painter->drawRect(box);
        const QColor mark = enabled ? kButtonTextColor : QColor(120, 128, 140);
        if ((option->state & State_On) != 0) {
            const qreal w = box.width();
            const qreal h = box.height();
            QPainterPath tick;
            tick.moveTo(box.left() + w * 0.22, box.top() + h * 0.52);
            tick.lineTo(box.left() + w * 0.42, box.top() + h * 0.72);
            tick.lineTo(box.left() + w * 0.78, box.top() + h * 0.28);
            painter->setPen(QPen(mark, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter->setBrush(Qt::NoBrush);
            painter->drawPath(tick);
        } else if ((option->state & State_NoChange) != 0) {
            painter->fillRect(box.adjusted(3, box.height() / 2 - 1, -3, -box.height() / 2 + 1),
                              mark);
        }
        painter->restore();
    }

    static void DrawArrow(const QStyleOption* option, QPainter* painter) {
        const QRectF area(option->rect);
        const QPointF centre = area.center();
        const qreal half = 3.5;
        QPainterPath arrow;
        arrow.moveTo(centre.x() - half, centre.y() - half / 2);
        arrow.lineTo(centre.x() + half, centre.y() - half / 2);
        arrow.lineTo(centre.x(), centre.y() + half / 2 + 0.5);
        arrow.closeSubpath();
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(Qt::NoPen);
        painter->setBrush((option->state & State_Enabled) != 0 ? kTextColor
                                                               : QColor(120, 128, 140));
        painter->drawPath(arrow);
        painter->restore();
    }
};

} // namespace

TForm1::TForm1(QWidget* mainWindow, std::vector<std::string>& launcherSettings)
    : QWidget(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), MainWindow(mainWindow),
      LauncherSettings(launcherSettings) {
    setFixedSize(220, 300);
    setWindowTitle(QString::fromUtf8(game_options_text::Title));
    CheckStyle = new DarkControlsStyle;

    const auto label = [this](int left, int top, int width, int height, const QString& text,
                              bool bold) {
        auto* control = new QLabel(text, this);
        control->setGeometry(left, top, width, height);
        control->setFont(SansFont(11, bold));
        QPalette palette = control->palette();
        palette.setColor(QPalette::WindowText, kTextColor);
        control->setPalette(palette);
        control->setAutoFillBackground(false); // the skin shows through
        return control;
    };
    const auto list = [this](int left, int top, int width, int height, const QStringList& items) {
        auto* control = new QComboBox(this);
        control->setGeometry(left, top, width, height);
        control->setFont(SansFont(11));
        control->setEditable(false);
        control->setStyle(CheckStyle);
        control->setStyleSheet(QString::fromLatin1(kListStyle));
        control->addItems(items);
        control->setMaxVisibleItems(static_cast<int>(items.size()));
        control->setCurrentIndex(-1);
        return control;
    };
    const auto checkBox = [this](int left, int top, int width, int height, const QString& text) {
        auto* control = new QCheckBox(text, this);
        control->setGeometry(left, top, width, height);
        control->setFont(SansFont(11));
        control->setStyle(CheckStyle);
        QPalette palette = control->palette();
        for (const QPalette::ColorRole role : {QPalette::Window, QPalette::Button})
            palette.setColor(role, kCheckBoxColor);
        palette.setColor(QPalette::WindowText, kTextColor);
        palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 128, 140));
        palette.setColor(QPalette::Highlight, QColor(140, 162, 196));
        control->setPalette(palette);
        control->setAutoFillBackground(true);
        return control;
    };
    const auto button = [this](int left, int top, int width, int height, const QString& text) {
        auto* control = new QPushButton(text, this);
        control->setGeometry(left, top, width, height);
        control->setFont(SansFont(11));
        control->setFlat(true);
        control->setFocusPolicy(Qt::NoFocus);
        control->setAutoDefault(false);
        control->setDefault(false);
        control->setStyleSheet(QString::fromLatin1(kButtonStyle));
        return control;
    };

    namespace text = game_options_text;
    const auto items = [](const auto& texts) {
        QStringList shown;
        for (const char* item : texts)
            shown << QString::fromUtf8(item);
        return shown;
    };
    QStringList resolutions;
    for (const TResolution& resolution : kResolutions)
        resolutions << QString::fromLatin1(resolution.Text);

    Label6 = label(39, 42, 143, 13, QString::fromUtf8(text::UpdateSettings), true);
    CheckBox3 = checkBox(30, 58, 160, 17, QString::fromUtf8(text::CreateBackup));
    Label5 = label(49, 88, 123, 13, QString::fromUtf8(text::GameSettings), true);
    Label1 = label(20, 111, 69, 13, QString::fromUtf8(text::Resolution), false);
    ComboBox1 = list(100, 108, 100, 21, resolutions);
    Label2 = label(20, 135, 79, 13, QString::fromUtf8(text::ColourDepth), false);
    ComboBox2 = list(100, 132, 100, 21, items(kColourBitsTexts));
    Label3 = label(20, 159, 48, 13, QString::fromUtf8(text::RefreshRate), false);
    ComboBox3 = list(100, 156, 100, 21, items(kRefreshRateTexts));
    CheckBox1 = checkBox(35, 182, 150, 17, QString::fromUtf8(text::KeepMinFrameRate));
    CheckBox2 = checkBox(62, 200, 97, 17, QString::fromUtf8(text::FullScreen));
    Label4 = label(32, 224, 24, 13, QString::fromUtf8(text::PartyLooting), false);
    ComboBox4 = list(66, 221, 127, 21, items(kLootTexts));
    SpeedButton1 = button(48, 256, 59, 25, QString::fromUtf8(text::Accept));
    SpeedButton2 = button(114, 256, 59, 25, QString::fromUtf8(text::Cancel));
    // Under the backup switch, with the update settings it belongs to.
    SpeedButton3 = button(35, 75, 150, 13, QString::fromUtf8(kLogFolderLink));
    SpeedButton3->setStyleSheet(QString::fromLatin1(kLinkStyle));
    SpeedButton3->setCursor(Qt::PointingHandCursor);

    // Tab order: the lists and switches from top to bottom, the backup switch last.
    QWidget::setTabOrder(ComboBox1, ComboBox2);
    QWidget::setTabOrder(ComboBox2, ComboBox3);
    QWidget::setTabOrder(ComboBox3, CheckBox1);
    QWidget::setTabOrder(CheckBox1, CheckBox2);
    QWidget::setTabOrder(CheckBox2, ComboBox4);
    QWidget::setTabOrder(ComboBox4, CheckBox3);

    connect(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QPushButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton3, &QPushButton::clicked, this, [this] { SpeedButton3Click(); });
}

TForm1::~TForm1() {
    // The controls drawn by CheckStyle let go of it before it goes.
    for (QWidget* control : std::initializer_list<QWidget*>{
             ComboBox1, ComboBox2, ComboBox3, ComboBox4, CheckBox1, CheckBox2, CheckBox3})
        control->setStyle(nullptr);
    delete CheckStyle;
}

std::string TForm1::OptionFile() {
    return OptionFileOf(platform::CurrentFolder());
}

void TForm1::FormCreate() {
    Image1 = QImage(QStringLiteral(":/dialog_skin.bmp"));
    if (!Image1.isNull())
        ApplySkin(*this, Image1);
    LoadOptions(OptionFile());
}

TGameOptions TForm1::Choices() const {
    TGameOptions options;
    options.Resolution = ComboBox1->currentIndex();
    options.ColourBits = ComboBox2->currentIndex();
    options.RefreshRate = ComboBox3->currentIndex();
    options.KeepMinFrameRate = CheckBox1->isChecked();
    options.FullScreen = CheckBox2->isChecked();
    options.PartyLooting = ComboBox4->currentIndex();
    options.CreateBackup = CheckBox3->isChecked();
    return options;
}

void TForm1::ShowChoices(const TGameOptions& options) {
    ComboBox1->setCurrentIndex(options.Resolution);
    ComboBox2->setCurrentIndex(options.ColourBits);
    ComboBox3->setCurrentIndex(options.RefreshRate);
    CheckBox1->setChecked(options.KeepMinFrameRate);
    CheckBox2->setChecked(options.FullScreen);
    ComboBox4->setCurrentIndex(options.PartyLooting);
    CheckBox3->setChecked(options.CreateBackup);
}

void TForm1::LoadOptions(const std::string& file) {
    // What was read before a switch that holds no Boolean is shown all the same.
    TGameOptions options = Choices();
    try {
        LoadGameOptions(file, LauncherSettings, options);
    } catch (...) {
        ShowChoices(options);
        throw;
    }
    ShowChoices(options);
}

void TForm1::Open() {
    if (MainWindow)
        MainWindow->setEnabled(false);
    // Disabling the main window disables its windows too; this one stays usable.
    setEnabled(true);
    if (!Placed) {
        if (MainWindow) {
            const QRect main = MainWindow->frameGeometry();
            const QRect own = frameGeometry();
            move(main.left() + (main.width() - own.width()) / 2,
                 main.top() + (main.height() - own.height()) / 2);
        }
        Placed = true;
        ComboBox1->setFocus();
    }
    show();
    activateWindow();
}

void TForm1::SpeedButton1Click() {
    SaveGameOptions(OptionFile(), Choices(), LauncherSettings);
    CloseDialog();
}

void TForm1::SpeedButton2Click() {
    CloseDialog();
}

void TForm1::SpeedButton3Click() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(LauncherLogFolder())));
}

void TForm1::CloseDialog() {
    hide();
    if (MainWindow)
        MainWindow->setEnabled(true);
}

void TForm1::FormMouseDown(int x, int y) {
    Drag.MouseDown(x, y);
}

void TForm1::FormMouseMove(int x, int y) {
    Drag.MouseMove(*this, x, y);
}

void TForm1::FormMouseUp() {
    Drag.MouseUp();
}

void TForm1::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    FormMouseDown(at.x(), at.y());
    event->accept();
}

void TForm1::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    FormMouseMove(at.x(), at.y());
    event->accept();
}

void TForm1::mouseReleaseEvent(QMouseEvent* event) {
    FormMouseUp();
    event->accept();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Closed by the window manager or the keyboard: the same as Cancel.
    CloseDialog();
    event->accept();
}
