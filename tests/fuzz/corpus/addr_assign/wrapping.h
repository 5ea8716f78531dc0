#ifndef FLASH_ADDR_ASSIGN_H
#define CodeBufSize 0xFFFF0000
#define FontBufSize 0x20000
#define BmpBufSize 0x10
#define EsLogoPicBufSize 0x10
#endif
