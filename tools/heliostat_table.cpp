// heliostat-table: runs the window's calculation cycle over a range of Japan Standard Time and
// prints one CSV row per cycle, exactly as the window's fields would show them.

#include <QStringList>
#include <cstdio>

#include "table/table_run.h"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return heliostat::table::RunTable(arguments, stdout, stderr);
}
