// lumacro3: the teacher PC's side of the classroom presentation system.
#include "app/program/lumacro3_app.h"

int main(int argc, char** argv) {
    app::Lumacro3App application;
    return application.run(argc, argv);
}
