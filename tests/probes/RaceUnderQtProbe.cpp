// A plain data race of our own whose one side runs under Qt's frames: a std::thread writes an int
// that a QTimer's lambda, called from the event loop, then reads and writes with nothing ordering
// the two. A ThreadSanitizer build must report it with the project's suppressions in force
// (tests/CMakeLists.txt), so that those suppressions are known not to hide our races.
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <thread>

namespace {

int shared = 0;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The thread ends before the lambda runs but is joined only afterwards: no order between the
    // accesses, whatever the timing.
    std::thread writer([] { shared = 42; });
    QTimer::singleShot(50, &app, [&app] {
        shared += 1;
        app.quit();
    });
    app.exec();
    writer.join();
    std::printf("shared=%d\n", shared);
    return 0;
}
