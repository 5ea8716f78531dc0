#define CodeBufSize 0x00080000 // code
/* FontBufSize in the middle */
#define FontBufSize 0x20000
#define BmpBufSize (0x40000)
#define EsLogoPicBufSize 393216
