#pragma once

#include <array>
#include <string_view>

// Enumerations of the utility library, passed as plain ints. Each has a table of its value
// names in value order (index = value), for printing only.

// How the text writer treats an existing file.
enum FILEEOUTTYPE { FILEEOUTTYPE_OVERWRITE, FILEEOUTTYPE_ADD };
inline constexpr std::array<std::string_view, 2> FILEEOUTTYPE_Names = {"FILEEOUTTYPE_OVERWRITE",
                                                                       "FILEEOUTTYPE_ADD"};

// Which parts of a table to write (no operation interprets it yet).
enum TABLEOUTTYPE { TABLEOUTTYPE_ALL, TABLEOUTTYPE_DATA, TABLEOUTTYPE_CASE, TABLEOUTTYPE_CLASS };
inline constexpr std::array<std::string_view, 4> TABLEOUTTYPE_Names = {
    "TABLEOUTTYPE_ALL", "TABLEOUTTYPE_DATA", "TABLEOUTTYPE_CASE", "TABLEOUTTYPE_CLASS"};

// Whether two motif sites must overlap, must not, or may do either.
enum OVERLAPMOT { OVERLAPMOT_YES, OVERLAPMOT_NO, OVERLAPMOT_ANY };
inline constexpr std::array<std::string_view, 3> OVERLAPMOT_Names = {
    "OVERLAPMOT_YES", "OVERLAPMOT_NO", "OVERLAPMOT_ANY"};

// Table orientation (no operation interprets it yet).
enum ROWCOL { ROWCOL_CLASSCASE, ROWCOL_CASECLASS };
inline constexpr std::array<std::string_view, 2> ROWCOL_Names = {"ROWCOL_CLASSCASE",
                                                                 "ROWCOL_CASECLASS"};
