#ifndef FLASH_ADDR_ASSIGN_H
#define CodeBufSize 0x80000
#define FontBufSize 0x40000
#define BmpBufSize 0x3FFFF
#define EsLogoPicBufSize 0x0
#endif
