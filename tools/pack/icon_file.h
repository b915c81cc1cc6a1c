#pragma once

#include "pe_resources.h"

#include <string>
#include <vector>

namespace talve {
namespace pack {

// An ICO file made into a program's icon resources: each image as an icon
// numbered from 1 in file order, and the group (number 1) that lists them,
// as Explorer and the loader look for them. PNG-compressed images are kept
// as they are. False with `problem` saying what is wrong with the file.
bool iconResources(const std::string& ico, std::vector<Resource>& resources, std::string& problem);

} // namespace pack
} // namespace talve
