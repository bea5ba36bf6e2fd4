#include "Frm2.h"

#include "Errors.h"
#include "Files.h"
#include "Fonts.h"
#include "Misc.h"
#include "Profile.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string_view>

namespace {

// Entries of the launcher's settings list that the dialog uses.
constexpr std::size_t kBaseFolder = 0;
constexpr std::size_t kCreateBackup = 5;

constexpr std::string_view kSettingsFileName = "Quenmor.ini";

struct Resolution {
    int Width;
    int Height;
    const char* Text;
};
// The game tells the modes apart by width + height.
constexpr std::array<Resolution, 5> kResolutions{{
    {640, 480, "640x480"},
    {800, 600, "800x600"},
    {1024, 768, "1024x768"},
    {1280, 1024, "1280x1024"},
    {1920, 1080, "1920x1080"},
}};
constexpr std::array<int, 2> kColorBits{32, 16};
constexpr std::array<int, 4> kRefreshRates{60, 75, 85, 100};
constexpr int kLootModes = 5;

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

// An integer of option.ini; a missing key or a text that is no integer gives
// the default.
int ReadInteger(const std::string& file, std::string_view section, std::string_view key,
                int defaultValue) {
    const std::string text = platform::GetProfileString(file, section, key, "");
    try {
        return StrToInt(text);
    } catch (const EConvertError&) {
        return defaultValue;
    }
}

bool ReadBool(const std::string& file, std::string_view section, std::string_view key,
              std::string_view defaultText) {
    return StrToBool(platform::GetProfileString(file, section, key, defaultText));
}

int ResolutionIndex(std::int64_t sum) {
    for (std::size_t i = 0; i < kResolutions.size(); ++i)
        if (std::int64_t{kResolutions[i].Width} + kResolutions[i].Height == sum)
            return static_cast<int>(i);
    return -1;
}

template <std::size_t N> int IndexOf(const std::array<int, N>& values, int value) {
    for (std::size_t i = 0; i < N; ++i)
        if (values[i] == value)
            return static_cast<int>(i);
    return -1;
}

// The entry of a table that belongs to a list's selection, or null.
template <typename T, std::size_t N> const T* Selected(const std::array<T, N>& table, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < N
               ? &table[static_cast<std::size_t>(index)]
               : nullptr;
}

const char* BoolText(bool value) {
    return value ? "true" : "false";
}

} // namespace

TForm1::TForm1(QWidget* mainWindow, std::vector<std::string>& launcherSettings)
    : QWidget(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), MainWindow(mainWindow),
      LauncherSettings(launcherSettings) {
    setFixedSize(220, 300);
    setWindowTitle(QStringLiteral("Настройки"));
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

    QStringList resolutions;
    for (const Resolution& resolution : kResolutions)
        resolutions << QString::fromLatin1(resolution.Text);

    Label6 = label(39, 42, 143, 13, QStringLiteral("Настройки обновления "), true);
    CheckBox3 = checkBox(30, 58, 160, 17, QStringLiteral("Создание резервной копии"));
    Label5 = label(49, 88, 123, 13, QStringLiteral("Игровые настройки "), true);
    Label1 = label(20, 111, 69, 13, QStringLiteral("Разрешение :"), false);
    ComboBox1 = list(100, 108, 100, 21, resolutions);
    Label2 = label(20, 135, 79, 13, QStringLiteral("Глубина цвета :"), false);
    ComboBox2 = list(100, 132, 100, 21, {QStringLiteral("32 Бит"), QStringLiteral("16 Бит")});
    Label3 = label(20, 159, 48, 13, QStringLiteral("Частота :"), false);
    ComboBox3 = list(100, 156, 100, 21,
                     {QStringLiteral("60 Гц"), QStringLiteral("75 Гц"), QStringLiteral("85 Гц"),
                      QStringLiteral("100 Гц")});
    CheckBox1 = checkBox(35, 182, 150, 17, QStringLiteral("Минимальные настройки"));
    CheckBox2 = checkBox(62, 200, 97, 17, QStringLiteral("Полный экран"));
    Label4 = label(32, 224, 24, 13, QStringLiteral("Лут :"), false);
    ComboBox4 = list(66, 221, 127, 21,
                     {QStringLiteral("Нашедшему"), QStringLiteral("Случайно"),
                      QStringLiteral("Случайно (вкл. споил)"), QStringLiteral("По очереди"),
                      QStringLiteral("По очереди (вкл. споил)")});
    SpeedButton1 = button(48, 256, 59, 25, QStringLiteral("Принять"));
    SpeedButton2 = button(114, 256, 59, 25, QStringLiteral("Отмена"));

    // Tab order: the lists and switches from top to bottom, the backup switch last.
    QWidget::setTabOrder(ComboBox1, ComboBox2);
    QWidget::setTabOrder(ComboBox2, ComboBox3);
    QWidget::setTabOrder(ComboBox3, CheckBox1);
    QWidget::setTabOrder(CheckBox1, CheckBox2);
    QWidget::setTabOrder(CheckBox2, ComboBox4);
    QWidget::setTabOrder(ComboBox4, CheckBox3);

    connect(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QPushButton::clicked, this, [this] { SpeedButton2Click(); });
}

TForm1::~TForm1() {
    // The controls drawn by CheckStyle let go of it before it goes.
    for (QWidget* control : std::initializer_list<QWidget*>{
             ComboBox1, ComboBox2, ComboBox3, ComboBox4, CheckBox1, CheckBox2, CheckBox3})
        control->setStyle(nullptr);
    delete CheckStyle;
}

std::string TForm1::OptionFile() {
    // Installations copied from Windows may spell the names in another case.
    return platform::ResolveCaseInsensitive(platform::CurrentFolder(), "system/option.ini");
}

void TForm1::FormCreate() {
    Image1 = QImage(QStringLiteral(":/dialog_skin.bmp"));
    if (!Image1.isNull())
        ApplySkin(*this, Image1);
    LoadOptions(OptionFile());
}

void TForm1::LoadOptions(const std::string& file) {
    const std::int64_t sum = std::int64_t{ReadInteger(file, "Video", "GamePlayViewportX", 0)} +
                             ReadInteger(file, "Video", "GamePlayViewportY", 0);
    ComboBox1->setCurrentIndex(ResolutionIndex(sum));
    ComboBox2->setCurrentIndex(IndexOf(kColorBits, ReadInteger(file, "Video", "ColorBits", 0)));
    ComboBox3->setCurrentIndex(
        IndexOf(kRefreshRates, ReadInteger(file, "Video", "RefreshRate", 0)));
    CheckBox1->setChecked(ReadBool(file, "Video", "IsKeepMinFrameRate", "true"));
    CheckBox2->setChecked(ReadBool(file, "Video", "StartupFullScreen", "false"));
    const int loot = ReadInteger(file, "Game", "PartyLooting", 0);
    ComboBox4->setCurrentIndex(loot >= 0 && loot < kLootModes ? loot : -1);
    if (LauncherSettings.size() > kCreateBackup && LauncherSettings[kCreateBackup] == "1")
        CheckBox3->setChecked(true);
}

void TForm1::SaveOptions(const std::string& file) {
    using platform::WriteProfileString;
    // A list without a selection leaves its keys as they are stored.
    if (const Resolution* resolution = Selected(kResolutions, ComboBox1->currentIndex())) {
        WriteProfileString(file, "Video", "GamePlayViewportX", std::to_string(resolution->Width));
        WriteProfileString(file, "Video", "GamePlayViewportY", std::to_string(resolution->Height));
    }
    if (const int* bits = Selected(kColorBits, ComboBox2->currentIndex()))
        WriteProfileString(file, "Video", "ColorBits", std::to_string(*bits));
    if (const int* rate = Selected(kRefreshRates, ComboBox3->currentIndex()))
        WriteProfileString(file, "Video", "RefreshRate", std::to_string(*rate));
    WriteProfileString(file, "Video", "IsKeepMinFrameRate", BoolText(CheckBox1->isChecked()));
    WriteProfileString(file, "Video", "StartupFullScreen", BoolText(CheckBox2->isChecked()));
    const int loot = ComboBox4->currentIndex();
    if (loot >= 0 && loot < kLootModes)
        WriteProfileString(file, "Game", "PartyLooting", std::to_string(loot));
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
    const std::string file = OptionFile();
    std::error_code error;
    // Without the game's options there is nothing to store, not even the
    // backup switch.
    if (std::filesystem::exists(file, error)) {
        SaveOptions(file);
        if (LauncherSettings.size() > kCreateBackup) {
            LauncherSettings[kCreateBackup] = std::string(CheckBox3->isChecked() ? "1" : "0");
            std::string settingsFile = LauncherSettings[kBaseFolder];
            settingsFile.append(kSettingsFileName);
            platform::WriteProfileString(settingsFile, "main", "CreateBackup",
                                         LauncherSettings[kCreateBackup]);
        }
    }
    CloseDialog();
}

void TForm1::SpeedButton2Click() {
    CloseDialog();
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
