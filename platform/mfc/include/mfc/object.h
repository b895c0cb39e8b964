// CObject and run-time class information: a class that declares itself dynamic can be asked for its
// CRuntimeClass, and one that declares itself creatable can be built from it (the document template
// makes the document, frame and view this way).
#pragma once
#include "win32/types.h"

class CObject;

struct CRuntimeClass {
  const char* m_lpszClassName;
  CObject* (*m_pfnCreateObject)();  // null for classes that cannot be created dynamically
  const CRuntimeClass* m_pBaseClass;

  // A new object of the class, or null when the class is not creatable.
  CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
  BOOL IsDerivedFrom(const CRuntimeClass* base) const;
};

class CObject {
 public:
  virtual ~CObject() = default;
  static const CRuntimeClass* ThisClass();
  virtual const CRuntimeClass* GetRuntimeClass() const { return ThisClass(); }
  BOOL IsKindOf(const CRuntimeClass* runtimeClass) const {
    return GetRuntimeClass()->IsDerivedFrom(runtimeClass);
  }

 protected:
  CObject() = default;
};

#define RUNTIME_CLASS(Class) (Class::ThisClass())

// In the class body: the class answers GetRuntimeClass with its own information.
#define DECLARE_DYNAMIC(Class)                      \
 public:                                            \
  static const CRuntimeClass* ThisClass();          \
  const CRuntimeClass* GetRuntimeClass() const override { return ThisClass(); }

// In the class body: as DECLARE_DYNAMIC, and the class can be created from its CRuntimeClass.
#define DECLARE_DYNCREATE(Class) \
  DECLARE_DYNAMIC(Class)         \
  static CObject* CreateObject();

// In one source file, beside the class's other definitions.
#define IMPLEMENT_DYNAMIC(Class, Base)                                                 \
  const CRuntimeClass* Class::ThisClass() {                                            \
    static const CRuntimeClass info{#Class, nullptr, RUNTIME_CLASS(Base)};            \
    return &info;                                                                      \
  }

#define IMPLEMENT_DYNCREATE(Class, Base)                                               \
  CObject* Class::CreateObject() { return new Class; }                                 \
  const CRuntimeClass* Class::ThisClass() {                                            \
    static const CRuntimeClass info{#Class, &Class::CreateObject, RUNTIME_CLASS(Base)}; \
    return &info;                                                                      \
  }
