// The operator's window: the sun's and the mirror's angles, the sky chart and the link to the
// antenna controller.
#include <QApplication>

#include "ui/frm_main.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    heliostat::ui::frmMain window;
    window.show();
    return app.exec();
}
