#pragma once

#include <QString>

#include <cstdint>

// The one shared module: the position in the browsing list and what the last
// Open chose. It lives as long as the program and is never reset.
struct Module1
{
    std::int32_t Index = 0;
    QString CurrentPath;  // folder of the file opened last, no trailing separator
    QString CurrentTitle; // that file's name without its folder
};
