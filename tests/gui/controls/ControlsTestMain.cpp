// The controls' Qt tests. Without arguments: the tests that need no display
// (run them on the offscreen platform). With --screen: the tests that need a
// real X server (window shapes, screen grabs, the real pointer).
// Test functions may be named as Class::function, e.g.
//   controls_tests ImgBtnTest::hover
// which runs only that class with that function.
#include <QApplication>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

int RunSkinTests(const QStringList& args);
int RunSkinDragTests(const QStringList& args);
int RunImgBtnTests(const QStringList& args);
int RunSkinScreenTests(const QStringList& args);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments();
    const bool screen = args.removeAll(QStringLiteral("--screen")) > 0;

    using Runner = std::function<int(const QStringList&)>;
    std::vector<std::pair<QString, Runner>> classes;
    if (screen) {
        classes = {{QStringLiteral("SkinScreenTest"), RunSkinScreenTests}};
    } else {
        classes = {{QStringLiteral("SkinTest"), RunSkinTests},
                   {QStringLiteral("SkinDragTest"), RunSkinDragTests},
                   {QStringLiteral("ImgBtnTest"), RunImgBtnTests}};
    }

    // Class::function arguments pick the classes to run.
    QStringList picked;
    QStringList rest;
    for (const QString& arg : std::as_const(args)) {
        const qsizetype sep = arg.indexOf(QStringLiteral("::"));
        if (sep > 0 && !arg.startsWith(QLatin1Char('-'))) {
            picked << arg.left(sep);
            rest << arg.mid(sep + 2);
        } else {
            rest << arg;
        }
    }

    int failed = 0;
    for (const auto& [name, run] : classes) {
        if (picked.isEmpty() || picked.contains(name))
            failed += run(rest);
    }
    return failed == 0 ? 0 : 1;
}
