// The one application object of Quorvel.exe.
#include "app/quorvel_app.h"

CQuorvelApp theApp;
