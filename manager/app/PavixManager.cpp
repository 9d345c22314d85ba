// The token manager program: everything happens in NRVCMUApp.
#include "manager/core/NRVCMUApp.h"

wxIMPLEMENT_APP(NRVCMUApp);
