/* Flash address assignment of the board */
#ifndef FLASH_ADDR_ASSIGN_H
#define FLASH_ADDR_ASSIGN_H
#define NAME "a /* b"
#if 0
#define Old 1
#else
#define Other 2
#endif
#define CodeBufSize	0x80000UL /* code */
#define FontBufSize 0X20000 // font
#define BmpBufSize  0x30000
#define EsLogoPicBufSize 0x10000
#define LONG \
   (1)
#endif
