// The word-table kernel built with -mavx2, called only when the processor has AVX2.
#define WORD_TABLE_KERNEL_NAME CountTableAvx2
#include "motifs/word_table_kernel.inc"
