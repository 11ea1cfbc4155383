// Text for a terminal line: its width in columns (UTF-8 aware) and ways to
// make it fit.
#pragma once

#include <cstddef>
#include <string>

std::size_t columnsOf(const std::string& text);
// The first `columns` characters of `text`.
std::string cutTo(const std::string& text, std::size_t columns);
// `text` in at most `columns` characters: its first whole words and "...".
std::string shortened(const std::string& text, std::size_t columns);
