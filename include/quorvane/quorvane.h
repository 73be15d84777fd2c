/*
 * The Quorvane control through a plain C interface (C99 and C++).
 *
 * A host creates a control, finds members by name (qv_get_id_of_name), calls them late-bound
 * (qv_invoke) with variants of automation types, and receives the control's events through a
 * callback (qv_advise). Members, parameter types and dispatch ids are those of the automation
 * interface _QuorvaneX; arguments are passed in declaration order. What the members do, the result
 * codes of ConvertFile and what an event handler may call: quorvane/control.hpp and
 * quorvane/catalog.hpp, which hold for this interface too.
 *
 * Threads: a control belongs to the thread that created it. Every call on a control, and every
 * event callback, happens on that thread; nothing here is locked.
 *
 * Strings (qv_string) are length-prefixed UTF-16 buffers, allocated and freed by the library
 * only: qv_string_alloc* makes one, qv_string_free frees one. A qv_string points at the first
 * code unit; the 32-bit count of code units is stored just before it and a 0 unit just after the
 * last one. NULL is a valid qv_string and means the empty string.
 *
 * Ownership, as for automation variants:
 * - A qv_variant of type QV_VT_BSTR owns its string; of type QV_VT_DISPATCH, one reference to its
 *   object (or NULL). qv_variant_clear frees what a variant owns and makes it QV_VT_EMPTY.
 *   By-reference variants (QV_VT_BYREF | type) own nothing: they point at the caller's storage.
 * - Arguments of qv_invoke belong to the caller and are not changed, except through by-reference
 *   pointers: when a member changes a by-reference string, the library frees the caller's string
 *   (qv_string_free) and stores a new one, which the caller then owns. By-reference variants and
 *   object references are replaced the same way (qv_variant_clear, qv_dispatch_release first).
 *   A by-reference argument whose type differs from the declared one fails with
 *   QV_DISP_E_TYPEMISMATCH; pass a by-value variant to have it coerced (nothing is written back).
 * - Results belong to the caller, who frees them with qv_variant_clear.
 * - Arguments handed to a callback belong to the library and are valid during the callback only.
 *
 * No function lets a C++ exception out. A member that fails returns QV_DISP_E_EXCEPTION with its
 * failure number; qv_last_failure_text gives the description.
 *
 * Handles: a NULL control gives QV_E_POINTER (qv_get_id_of_name, qv_invoke), ""
 * (qv_last_failure_text, qv_last_failure_cause, which also sets *number to 0) and 0 (qv_advise,
 * qv_unadvise), and is ignored by qv_control_destroy. A NULL qv_dispatch gives QV_E_POINTER
 * (qv_dispatch_get_id_of_name, qv_dispatch_invoke) and NULL (qv_dispatch_addref), and is ignored
 * by qv_dispatch_release. A destroyed control, and a qv_dispatch whose last reference was
 * released, is freed memory: nothing tells it from a live handle, and any call with it (a second
 * destroy or release included) is undefined. Drop a handle when you destroy or release it.
 */
#ifndef QUORVANE_QUORVANE_H
#define QUORVANE_QUORVANE_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(QUORVANE_BUILDING)
#define QV_API __declspec(dllexport)
#else
#define QV_API __declspec(dllimport)
#endif
#else
#define QV_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t qv_hresult;
typedef uint16_t qv_char16; /* one UTF-16 code unit */
typedef qv_char16* qv_string;
typedef int16_t qv_bool; /* automation Boolean: true = -1, false = 0 */

#define QV_TRUE ((qv_bool)-1)
#define QV_FALSE ((qv_bool)0)

/* Results (HRESULT values). */
#define QV_S_OK ((qv_hresult)0)
#define QV_DISP_E_MEMBERNOTFOUND ((qv_hresult)-2147352573)  /* 0x80020003 */
#define QV_DISP_E_TYPEMISMATCH ((qv_hresult)-2147352571)    /* 0x80020005 */
#define QV_DISP_E_UNKNOWNNAME ((qv_hresult)-2147352570)     /* 0x80020006 */
#define QV_DISP_E_BADVARTYPE ((qv_hresult)-2147352568)      /* 0x80020008 */
#define QV_DISP_E_EXCEPTION ((qv_hresult)-2147352567)       /* 0x80020009 */
#define QV_DISP_E_OVERFLOW ((qv_hresult)-2147352566)        /* 0x8002000A */
#define QV_DISP_E_BADPARAMCOUNT ((qv_hresult)-2147352562)   /* 0x8002000E */
#define QV_E_POINTER ((qv_hresult)-2147467261)              /* 0x80004003 */
#define QV_E_OUTOFMEMORY ((qv_hresult)-2147024882)          /* 0x8007000E */
#define QV_E_INVALIDARG ((qv_hresult)-2147024809)           /* 0x80070057 */

/* Invocation kinds; method and property get may be combined. */
#define QV_DISPATCH_METHOD 1
#define QV_DISPATCH_PROPERTYGET 2
#define QV_DISPATCH_PROPERTYPUT 4

/* Dispatch ids of the events (__QuorvaneX). */
#define QV_DISPID_PROGRESS 1
#define QV_DISPID_ONERROR 2

/* Variant types. */
enum {
  QV_VT_EMPTY = 0,
  QV_VT_NULL = 1,
  QV_VT_I2 = 2,
  QV_VT_I4 = 3,
  QV_VT_R4 = 4,
  QV_VT_R8 = 5,
  QV_VT_BSTR = 8,
  QV_VT_DISPATCH = 9,
  QV_VT_ERROR = 10,
  QV_VT_BOOL = 11,
  QV_VT_VARIANT = 12, /* only as QV_VT_BYREF | QV_VT_VARIANT */
  QV_VT_I1 = 16,
  QV_VT_UI1 = 17,
  QV_VT_UI2 = 18,
  QV_VT_UI4 = 19,
  QV_VT_I8 = 20,
  QV_VT_UI8 = 21,
  QV_VT_BYREF = 0x4000
};

typedef struct qv_control qv_control;
typedef struct qv_dispatch qv_dispatch;

/*
 * A value of an automation type. By reference, only QV_VT_I2, QV_VT_I4, QV_VT_R4, QV_VT_R8,
 * QV_VT_BOOL, QV_VT_BSTR, QV_VT_DISPATCH and QV_VT_VARIANT are accepted (the variant a
 * QV_VT_BYREF | QV_VT_VARIANT points at must itself be by value); anything else fails with
 * QV_DISP_E_BADVARTYPE. Initialise with qv_variant_init (or zero it).
 */
typedef struct qv_variant {
  uint16_t vt;
  uint16_t reserved[3];
  union {
    int8_t i1;
    uint8_t ui1;
    int16_t i2;
    uint16_t ui2;
    int32_t i4;
    uint32_t ui4;
    int64_t i8;
    uint64_t ui8;
    float r4;
    double r8;
    qv_bool boolVal;
    int32_t scode; /* QV_VT_ERROR */
    qv_string bstrVal;
    qv_dispatch* dispVal;
    int16_t* pi2;
    int32_t* pi4;
    float* pr4;
    double* pr8;
    qv_bool* pboolVal;
    qv_string* pbstrVal;
    qv_dispatch** pdispVal;
    struct qv_variant* pvarVal;
  } u;
} qv_variant;

/* --- Strings ------------------------------------------------------------------------------- */

/* A new string of `length` code units copied from `text` (zeros when `text` is NULL). The caller
 * owns it. NULL when memory is short. */
QV_API qv_string qv_string_alloc(const qv_char16* text, size_t length);
/* A new string from NUL-terminated UTF-8; NULL `utf8` gives the empty string. A byte that is not
 * part of valid UTF-8 (as in a file name that is not UTF-8) becomes U+DC80 + (byte - 0x80), which
 * qv_string_to_utf8 turns back into that byte, so such names pass through unchanged. The caller
 * owns it. */
QV_API qv_string qv_string_alloc_utf8(const char* utf8);
/* Frees a string made by the library; NULL is ignored. */
QV_API void qv_string_free(qv_string s);
/* Number of code units; 0 for NULL. */
QV_API size_t qv_string_length(qv_string s);
/* Writes `s` as UTF-8 into `buffer` and returns the full UTF-8 length without the NUL, as snprintf
 * does: a result >= size means the text was cut. A cut text is as many whole characters as fit in
 * size - 1 bytes, never part of one (a character of 4 bytes that does not fit is left out whole),
 * then a NUL; a byte kept from a name that is not UTF-8 counts as one character. size 0 or a NULL
 * `buffer` writes nothing. */
QV_API size_t qv_string_to_utf8(qv_string s, char* buffer, size_t size);

/* --- Variants ------------------------------------------------------------------------------ */

QV_API void qv_variant_init(qv_variant* v);
/* Frees what `v` owns (a string, an object reference) and makes it QV_VT_EMPTY. */
QV_API void qv_variant_clear(qv_variant* v);

/* --- The control --------------------------------------------------------------------------- */

/* A new control with the default applications provider; NULL when it cannot be created. */
QV_API qv_control* qv_control_create(void);
/* Ends the control, as its termination does: kept applications are ended, which may raise
 * onerror to the callbacks still advised (they may still call the control). NULL is ignored.
 * Called back from inside a qv_invoke on this control (an event of ConvertFile, a host object
 * answering TextFromGroupShape), it does not end the running call: the callbacks hear nothing
 * more, the call runs on, returns normally, and then the control is destroyed. Either way the
 * handle is gone once this function returns. */
QV_API void qv_control_destroy(qv_control* control);

/* The dispatch id of a member of _QuorvaneX; `name` is NUL-terminated UTF-8, compared without
 * regard to letter case. QV_DISP_E_UNKNOWNNAME for an unknown name. */
QV_API qv_hresult qv_get_id_of_name(qv_control* control, const char* name, int32_t* dispid);

/*
 * Calls member `dispid` with `argc` arguments in declaration order (`args` may be NULL when argc
 * is 0). `result` may be NULL; otherwise it is set to QV_VT_EMPTY on entry (without freeing what
 * it held: pass an empty variant) and receives the result on success. `excep_number` may be NULL;
 * otherwise it receives 0, or the member's failure number when the result is QV_DISP_E_EXCEPTION.
 * Other failures: QV_DISP_E_MEMBERNOTFOUND (unknown id, or a kind the member does not offer),
 * QV_DISP_E_BADPARAMCOUNT, QV_DISP_E_TYPEMISMATCH, QV_DISP_E_OVERFLOW, QV_DISP_E_BADVARTYPE,
 * QV_E_POINTER, QV_E_OUTOFMEMORY.
 */
QV_API qv_hresult qv_invoke(qv_control* control, int32_t dispid, uint16_t kind, const qv_variant* args, size_t argc,
                            qv_variant* result, int32_t* excep_number);

/* The description of the failure when the last qv_invoke on this control returned
 * QV_DISP_E_EXCEPTION, or qv_set_output_options QV_E_INVALIDARG; "" after any other outcome. UTF-8, owned by the control, valid until the
 * next qv_invoke or qv_control_destroy on it. */
QV_API const char* qv_last_failure_text(qv_control* control);

/* The cause of the failure that the last ConvertFile on this control reported: sets *number
 * (may be NULL) to the failure number its failure path saw (a run-time error number or an HRESULT)
 * and returns its description, UTF-8 (the bytes of a file name that is not UTF-8 as they are),
 * owned by the control and valid until the next call of this function or qv_control_destroy on it.
 * 0 and "" when that conversion reported nothing; ConvertFile clears it when it starts. */
QV_API const char* qv_last_failure_cause(qv_control* control, int32_t* number);

/* The path of the diagnostic log the component appends a line to for each failed picture or text
 * export ("Quorvane.log" beside the library), written as qv_string_to_utf8 writes; returns the
 * full length. 0 when the library's folder is unknown. */
QV_API size_t qv_diagnostic_log_path(char* buffer, size_t size);

/*
 * Event callback. Progress: dispid QV_DISPID_PROGRESS, no arguments (args may be NULL).
 * onerror: dispid QV_DISPID_ONERROR, two arguments:
 *   args[0]  QV_VT_BYREF | QV_VT_I4    u.pi4 points at the reporter's copy of the code;
 *   args[1]  QV_VT_BYREF | QV_VT_BSTR  u.pbstrVal points at a library-owned string holding the
 *            control's ErrorString. To change ErrorString, free *u.pbstrVal with qv_string_free
 *            and store a new string from qv_string_alloc*: the library takes it over, copies it
 *            into ErrorString when the callback returns, and frees it. Do not keep the pointers.
 *            A handler that leaves *u.pbstrVal as it is and sets ErrorString through qv_invoke
 *            instead keeps that text: only a string the callback changed is copied back.
 * Events are raised synchronously from inside qv_invoke (ConvertFile), on the control's thread.
 * From a callback of a conversion, ConvertFile and UserControl_Terminate on the same control fail
 * with QV_DISP_E_EXCEPTION, failure number 5; every other member runs (quorvane/control.hpp says
 * what a change does to the running conversion); qv_control_destroy is deferred, as it says.
 */
typedef void (*qv_event_callback)(void* context, int32_t dispid, const qv_variant* args, size_t argc);

/* Connects a callback; returns its cookie, 0 when `callback` is NULL or memory is short.
 * Callbacks run in the order advised. `context` is passed through untouched. */
QV_API uint32_t qv_advise(qv_control* control, qv_event_callback callback, void* context);
/* Disconnects; 1 when the cookie was known, else 0. */
QV_API int qv_unadvise(qv_control* control, uint32_t cookie);

/* --- Late-bound objects -------------------------------------------------------------------- */

/*
 * A qv_dispatch is one counted reference to a late-bound object: one the host implements with
 * callbacks (a shape it hands to TextFromGroupShape, for one: quorvane/control.hpp lists the
 * members it is asked for), or one the library hands out.
 * qv_dispatch_addref returns a new reference to the same object; qv_dispatch_release drops one.
 */
typedef struct qv_dispatch_callbacks {
  /* Sets *dispid for a NUL-terminated UTF-8 name, or returns QV_DISP_E_UNKNOWNNAME. */
  qv_hresult (*get_id_of_name)(void* context, const char* name, int32_t* dispid);
  /* As qv_invoke, seen from the callee: `args` belong to the library (by-reference rules as for
   * the event callback); `result` (may be NULL) is QV_VT_EMPTY on entry and takes over whatever
   * is stored in it. On failure return QV_DISP_E_EXCEPTION after setting *excep_number and,
   * optionally, *excep_description (a string the library takes over); both are never NULL. */
  qv_hresult (*invoke)(void* context, int32_t dispid, uint16_t kind, const qv_variant* args, size_t argc,
                       qv_variant* result, int32_t* excep_number, qv_string* excep_description);
  /* Called once, when the last reference is gone; may be NULL. */
  void (*destroy)(void* context);
} qv_dispatch_callbacks;

/* A new object answering through `callbacks` (copied); the caller owns the one reference. NULL
 * when `callbacks` or one of its two call members is NULL, or memory is short. */
QV_API qv_dispatch* qv_dispatch_create(const qv_dispatch_callbacks* callbacks, void* context);
QV_API qv_dispatch* qv_dispatch_addref(qv_dispatch* object);
QV_API void qv_dispatch_release(qv_dispatch* object);
QV_API qv_hresult qv_dispatch_get_id_of_name(qv_dispatch* object, const char* name, int32_t* dispid);
/* As qv_invoke; the description of a QV_DISP_E_EXCEPTION goes to `excep_description` (may be
 * NULL; otherwise set to a new string the caller owns, or NULL). */
QV_API qv_hresult qv_dispatch_invoke(qv_dispatch* object, int32_t dispid, uint16_t kind, const qv_variant* args,
                                     size_t argc, qv_variant* result, int32_t* excep_number,
                                     qv_string* excep_description);

/* --- Picture and PDF options ------------------------------------------------------------- */

/*
 * How the slide pictures and the PDF are made (C++: quorvane/output_options.hpp, which says what
 * each field does); zero everywhere is the default. Kept by the control for every later
 * ConvertFile.
 */
typedef struct qv_output_options {
  int32_t pixel_width;      /* pictures: width in pixels (0: by the height and the slide's ratio) */
  int32_t pixel_height;     /* pictures: height in pixels (0: by the width and the slide's ratio) */
  int32_t dots_per_inch;    /* pictures: resolution instead of a size (0 with no size: 96) */
  int32_t jpeg_quality;     /* 1 to 100; 0: the renderer's default */
  const char* name_pattern; /* UTF-8, e.g. "slide-{n:03}.png"; NULL or "": the usual names */
  qv_bool hidden_slides;    /* PDF: hidden slides too */
  qv_bool notes_pages;      /* PDF: the notes pages instead of the slides */
  qv_bool pdfa;             /* PDF: PDF/A-2b */
} qv_output_options;

/* Sets the options (NULL: the defaults). QV_S_OK, else QV_E_INVALIDARG with nothing changed and the
 * problem in qv_last_failure_text; QV_E_POINTER for a NULL control. */
QV_API qv_hresult qv_set_output_options(qv_control* control, const qv_output_options* options);

/* --- Office limits ------------------------------------------------------------------------ */

/*
 * Bounds on the office processes that draw slides and write foreign formats (C++:
 * quorvane/office_limits.hpp): process-wide, read at the start of every conversion. An office
 * above its memory bound or past its deadline is stopped and the conversion fails. The deadline is
 * the base plus the per-slide allowance for every slide the office loads or draws.
 */
typedef struct qv_office_limits {
  uint64_t memory_bytes;     /* resident memory of one office (default 4 GiB) */
  uint64_t base_deadline_ms; /* what every call may take (default 120000) */
  uint64_t per_slide_ms;     /* what every slide loaded or drawn adds (default 2000) */
} qv_office_limits;

/* The limits in force (no field 0). */
QV_API void qv_get_office_limits(qv_office_limits* limits);
/* Sets the limits; a field of 0 (or NULL for all) goes back to the environment variable
 * (QUORVANE_RENDER_MEMORY_MIB, QUORVANE_RENDER_TIMEOUT_SECONDS, QUORVANE_RENDER_SLIDE_MILLISECONDS),
 * else the default. */
QV_API void qv_set_office_limits(const qv_office_limits* limits);

/* --- Documents and accounts of presentations ------------------------------------------------ */

/*
 * C++: quorvane/documents.hpp. Paths are NUL-terminated UTF-8. Text handed out is copied into
 * `buffer` as far as it fits with its NUL (cut before a character that does not fit whole), and
 * the whole text's length in bytes is returned; `buffer` may be NULL to ask for the length.
 */
#define QV_DOCUMENT_MARKDOWN 0
#define QV_DOCUMENT_JSON 1

/* Writes the document of `kind` for `input` to `output`. Returns 0, or the failure number (then
 * the description goes to `error`, if given, as above); QV_E_POINTER for a NULL path, and
 * QV_E_INVALIDARG for an unknown kind. */
QV_API int32_t qv_export_document(const char* input, const char* output, int kind, char* error, size_t error_size);
/* The account of `input` as one line of JSON. A file that cannot be read gives an account that
 * says so ("ok": false), not a failure; 0 and an empty buffer for a NULL path. */
QV_API size_t qv_inspect(const char* input, char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* QUORVANE_QUORVANE_H */
