#include "uQorMain.h"

int main(int argc, char** argv) {
    return QorMain(argc, argv);
}
