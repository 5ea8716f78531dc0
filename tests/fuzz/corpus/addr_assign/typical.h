#ifndef FLASH_ADDR_ASSIGN_H
#define CodeBufSize 0x60000
#define FontBufSize 0x40000
#define BmpBufSize 0x20000
#define EsLogoPicBufSize 0x20000
#endif
