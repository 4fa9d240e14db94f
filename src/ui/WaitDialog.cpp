#include "ui/WaitDialog.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <exception>

namespace tollavar {

bool waitWithProgress(QWidget* parent, const QString& text, const std::function<bool()>& ready, int intervalMs)
{
    QProgressDialog dialog(text, QObject::tr("Cancel"), 0, 0, parent);
    dialog.setObjectName("waitDialog");
    dialog.setWindowTitle("Tollavar");
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(0);

    QEventLoop loop;
    bool done = false;
    std::exception_ptr failure;
    QTimer poll;
    poll.setInterval(intervalMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        // An exception must not unwind through Qt's event dispatch; it is carried out of the loop instead.
        try {
            done = ready();
        } catch (...) {
            failure = std::current_exception();
        }
        if (done || failure)
            loop.quit();
    });
    // The Cancel button, closing the dialog and Escape all give up.
    QObject::connect(&dialog, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
    QObject::connect(&dialog, &QDialog::rejected, &loop, &QEventLoop::quit);
    dialog.show();
    poll.start();
    loop.exec();
    poll.stop();
    dialog.hide();
    if (failure)
        std::rethrow_exception(failure);
    return done;
}

} // namespace tollavar
