#include "replay/net/socket_types.h"

const char* SocketErrorText(SocketError code) {
  switch (code) {
    case SocketError::Ok: return "SUCCESS";
    case SocketError::IllegalState: return "Illegal State";
    case SocketError::InvalidParam: return "Invalid Parameter";
    case SocketError::SocketCreate: return "Create SOCKET Fail";
    case SocketError::SocketBind: return "Bind SOCKET Fail";
    case SocketError::SocketPrepare: return "Prepare SOCKET Fail";
    case SocketError::SocketListen: return "Listen SOCKET Fail";
    case SocketError::CpCreate: return "Create IOCP Fail";
    case SocketError::WorkerThreadCreate: return "Create Worker Thread Fail";
    case SocketError::DetectThreadCreate: return "Create Detector Thread Fail";
    case SocketError::SocketAttachToCp: return "Attach SOCKET to IOCP Fail";
    case SocketError::ConnectServer: return "Connect to Server Fail";
    case SocketError::Network: return "Network Error";
    case SocketError::DataProc: return "Process Data Error";
    case SocketError::DataSend: return "Send Data Fail";
    case SocketError::SslEnvNotReady: return "SSL environment not ready";
  }
  return "UNKNOWN ERROR";
}
