// Which secret a PIN dialog or randomizer deals with; the values are the ones
// callers pass around as integers.
#pragma once

enum PinKind { SO = 0, User = 1, Password = 2 };
