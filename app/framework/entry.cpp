// The program's entry point: hands over to the one application object.
#include "app/framework/win_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return runApplication(instance); }
