// A library that loads but does not export the driver's entry.
#if defined(_WIN32)
#define VELMORA_EXPORT extern "C" __declspec(dllexport)
#else
#define VELMORA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VELMORA_EXPORT int VelmoraSomethingElse()
{
    return 7;
}
