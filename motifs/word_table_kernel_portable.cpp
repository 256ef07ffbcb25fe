// The word-table kernel for every processor: built for the baseline instruction set.
#define WORD_TABLE_KERNEL_NAME CountTablePortable
#include "motifs/word_table_kernel.inc"
