#define ONE 1
#define TWO ONE + ONE
#if .T.
? TWO
#else
? "no"
#endif
#ifdef ONE
#ifndef THREE
? "nested"
#endif
#endif
