// The provider's dialogs need wx running. A host that is not a wx program
// gets it started once, for good: a provider cannot know when its host is
// done with dialogs. False when no display can be reached.
#pragma once

bool EnsureWx();
