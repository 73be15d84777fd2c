/* A C host of the control: embed-c INPUT OUTPUT [TYPE] converts one presentation (TYPE a code of
 * `quorvane formats`, 32 = PDF by default), calling the control's members by name. */
#include <stdio.h>
#include <stdlib.h>

#include <quorvane/quorvane.h>

static void on_event(void* context, int32_t dispid, const qv_variant* args, size_t argc) {
  char text[512];
  (void)context;
  if (dispid == QV_DISPID_ONERROR && argc == 2) {
    qv_string_to_utf8(*args[1].u.pbstrVal, text, sizeof text);
    fprintf(stderr, "error %d: %s\n", (int)*args[0].u.pi4, text);
  }
}

/* Calls member `name` with `argc` arguments; the result, if any, goes to `result`. */
static qv_hresult call(qv_control* control, const char* name, uint16_t kind, const qv_variant* args, size_t argc,
                       qv_variant* result) {
  int32_t id = 0;
  qv_hresult hr = qv_get_id_of_name(control, name, &id);
  return hr == QV_S_OK ? qv_invoke(control, id, kind, args, argc, result, NULL) : hr;
}

int main(int argc, char** argv) {
  qv_control* control;
  qv_variant value, result;
  int status = 1;
  if (argc < 3) {
    fprintf(stderr, "usage: embed-c INPUT OUTPUT [TYPE]\n");
    return 64;
  }
  control = qv_control_create();
  if (control == NULL) return 70;
  qv_advise(control, on_event, NULL);

  qv_variant_init(&value);
  value.vt = QV_VT_BSTR; /* the caller owns the string and frees it */
  value.u.bstrVal = qv_string_alloc_utf8(argv[1]);
  call(control, "InputFile", QV_DISPATCH_PROPERTYPUT, &value, 1, NULL);
  qv_variant_clear(&value);
  value.vt = QV_VT_BSTR;
  value.u.bstrVal = qv_string_alloc_utf8(argv[2]);
  call(control, "OutputFile", QV_DISPATCH_PROPERTYPUT, &value, 1, NULL);
  qv_variant_clear(&value);
  value.vt = QV_VT_I4;
  value.u.i4 = argc > 3 ? atoi(argv[3]) : 32;
  call(control, "TargetFileType", QV_DISPATCH_PROPERTYPUT, &value, 1, NULL);

  qv_variant_init(&result);
  if (call(control, "ConvertFile", QV_DISPATCH_METHOD, NULL, 0, &result) == QV_S_OK && result.vt == QV_VT_I4) {
    status = result.u.i4 == 0 ? 0 : 1; /* 0, or a code of `quorvane errors` */
  } else {
    fprintf(stderr, "failed: %s\n", qv_last_failure_text(control));
    status = 70;
  }
  qv_variant_clear(&result);
  qv_control_destroy(control);
  return status;
}
