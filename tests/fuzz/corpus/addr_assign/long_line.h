                                                                                                                                                                                                                                                              CodeBufSize=0x60000
FontBufSize 0x1
BmpBufSize 0x1
