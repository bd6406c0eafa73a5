// SPDX-License-Identifier: MIT
// The progress bar of a conversion on a terminal.
#pragma once

#include <cstddef>
#include <string>

// The width of the terminal standard error shows on, in columns; 80 when it cannot be told.
int terminalColumns();

// The bar's line for a terminal of columns columns: never more than columns - 1 characters, so
// that the terminal never wraps it onto a new line. The bar itself shrinks first, then goes;
// on a very narrow terminal only the percentage is left.
std::string progressLine(int columns, std::size_t finished, std::size_t files, double fraction);
