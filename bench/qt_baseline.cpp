// The least a Qt Widgets program does to show a main window: the reference that start-up time
// and memory of dielmon are measured beside. Like dielmon, it opens the port named on its
// command line when its window is shown, so that the same observer times both.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <fcntl.h>
#include <unistd.h>

namespace {

class Window : public QMainWindow {
public:
    explicit Window(const char* port) : Port_(port) {
        setCentralWidget(new QLabel(QStringLiteral("baseline")));
    }

protected:
    void showEvent(QShowEvent* event) override {
        QMainWindow::showEvent(event);
        if (Fd_ < 0 && Port_ != nullptr) {
            Fd_ = ::open(Port_, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        }
    }

private:
    const char* Port_;
    int Fd_ = -1;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Window window(argc > 1 ? argv[1] : nullptr);
    window.resize(1280, 720);
    window.showMaximized();
    return app.exec();
}
