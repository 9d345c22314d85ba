// Which secret a PIN dialog or randomizer deals with. Scoped, so a bare number
// or another enum's value cannot be passed where a kind is meant.
#pragma once

enum class PinKind { SO = 0, User = 1, Password = 2 };
