// Process entry of qrv3.
#include "client/start_up.h"

int main(int argc, char** argv) { ClientMain(argc, argv); }
