// dunmore-gui: the desktop window over the recovery engine.
#include "ui/kestrel_harbor_app.h"

int main(int argc, char** argv) {
    dunmore::ui::CKestrelHarborApp app(argc, argv);
    return app.run();
}
