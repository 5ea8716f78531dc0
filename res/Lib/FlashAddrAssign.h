/* Flash address assignment of the board: region sizes, code first. */
#ifndef FLASH_ADDR_ASSIGN_H
#define FLASH_ADDR_ASSIGN_H

#define CodeBufSize         0x80000   /* code image */
#define FontBufSize         0x20000   /* font section */
#define BmpBufSize          0x30000   /* bitmap section */
#define EsLogoPicBufSize    0x10000   /* logo section */

#endif
