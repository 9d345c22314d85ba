// The token manager program: everything happens in NRVCMUApp.
#include "manager/app/NRVCMUApp.h"

wxIMPLEMENT_APP(NRVCMUApp);
