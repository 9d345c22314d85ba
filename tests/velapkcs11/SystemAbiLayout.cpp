// The layout of the platform's own PKCS#11 header, as every other module and
// consumer on this system is built with it.
#include "AbiLayout.h"

#include <cstddef>
#include <p11-kit/pkcs11.h>

std::vector<AbiFigure> SystemAbiLayout()
{
#include "AbiLayoutFigures.inc"
}
