#pragma once

#include "pages/FieldModel.h"

#include <memory>
#include <vector>

struct CConfigSet;

// The pages of the property sheet over the configuration set, in tab order. Pages read the set
// when they are made; the set outlives them.
std::vector<std::unique_ptr<CPageModel>> CreatePages(CConfigSet& set);
