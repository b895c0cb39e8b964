// A DLL that needs a function no program offers.
extern "C" int FunctionNobodyHas();
extern "C" int CallsTheMissingFunction() { return FunctionNobodyHas(); }
