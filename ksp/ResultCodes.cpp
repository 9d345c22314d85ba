#include "ksp/ResultCodes.h"

SECURITY_STATUS MapCryptokiResult(CK_RV rv)
{
    switch (rv) {
    case CKR_OK:
        return ERROR_SUCCESS;
    case CKR_CANCEL:
        return ERROR_CANCELLED;
    case CKR_HOST_MEMORY:
    case CKR_DEVICE_MEMORY:
        return NTE_NO_MEMORY;
    case CKR_SLOT_ID_INVALID:
    case CKR_ATTRIBUTE_TYPE_INVALID:
    case CKR_ATTRIBUTE_VALUE_INVALID:
    case CKR_DATA_INVALID:
    case CKR_DATA_LEN_RANGE:
    case CKR_MECHANISM_INVALID:
    case CKR_MECHANISM_PARAM_INVALID:
    case CKR_PIN_INVALID:
    case CKR_PIN_LEN_RANGE:
    case CKR_TEMPLATE_INCOMPLETE:
    case CKR_TEMPLATE_INCONSISTENT:
        return NTE_INVALID_PARAMETER;
    case CKR_FUNCTION_FAILED:
        return ERROR_FUNCTION_FAILED;
    case CKR_ARGUMENTS_BAD:
        return ERROR_BAD_ARGUMENTS;
    case CKR_ATTRIBUTE_READ_ONLY:
    case CKR_ATTRIBUTE_SENSITIVE:
    case CKR_USER_NOT_LOGGED_IN:
        return NTE_PERM;
    case CKR_DEVICE_ERROR:
        return NTE_INTERNAL_ERROR;
    case CKR_FUNCTION_NOT_SUPPORTED:
        return NTE_NOT_SUPPORTED;
    case CKR_KEY_HANDLE_INVALID:
    case CKR_OBJECT_HANDLE_INVALID:
    case CKR_SESSION_HANDLE_INVALID:
        return NTE_INVALID_HANDLE;
    case CKR_PIN_INCORRECT:
        return ERROR_LOGON_FAILURE;
    case CKR_PIN_LOCKED:
        return ERROR_ACCOUNT_DISABLED;
    default:
        return NTE_FAIL;
    }
}

SECURITY_STATUS MapNtStatus(NTSTATUS status)
{
    switch (status) {
    case STATUS_SUCCESS:
        return ERROR_SUCCESS;
    case STATUS_INVALID_HANDLE:
        return NTE_INVALID_HANDLE;
    case STATUS_INVALID_PARAMETER:
        return NTE_INVALID_PARAMETER;
    case STATUS_NO_MEMORY:
    case STATUS_INSUFFICIENT_RESOURCES:
        return NTE_NO_MEMORY;
    case STATUS_BUFFER_TOO_SMALL:
        return NTE_BUFFER_TOO_SMALL;
    case STATUS_NOT_SUPPORTED:
        return NTE_NOT_SUPPORTED;
    case STATUS_INVALID_SIGNATURE:
        return NTE_BAD_SIGNATURE;
    default:
        return NTE_INTERNAL_ERROR;
    }
}
