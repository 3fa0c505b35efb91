// placeholder: being written
extern "C" int Convert() { return 0; }
extern "C" int ConvertToUTF8() { return 0; }
extern "C" int ConvertToUTF16() { return 0; }
extern "C" int ConvertToUTF32() { return 0; }
