#ifndef QUOTELOOM_OBJECTSTORE_OBJECT_LAYOUT_H
#define QUOTELOOM_OBJECTSTORE_OBJECT_LAYOUT_H

#include <string>
#include <string_view>

// Where a bucket keeps its objects, as every NATS client's object store names it: the stream
// OBJ_<bucket>, chunks on $O.<bucket>.C.<nuid>, each object's record on $O.<bucket>.M.<name in
// base64url>. Pure functions, any thread (NewNuid: any thread).

inline constexpr std::size_t kDefaultChunkSize = 128 * 1024;

// Letters, digits, '-' and '_', 1 to 64 bytes: what a bucket name may hold.
bool IsBucketName(std::string_view bucket);
// 1 to 64 letters, digits, '-' or '_': a nuid that is safe as the last token of a subject.
bool IsSubjectToken(std::string_view token);

std::string BucketStreamName(const std::string& bucket);
std::string ChunkSubject(const std::string& bucket, const std::string& nuid);
std::string ChunkSubjects(const std::string& bucket);  // $O.<bucket>.C.>
std::string MetaSubjects(const std::string& bucket);   // $O.<bucket>.M.>
// With `padded` the name's encoding ends in '=' padding, as the Go and JavaScript clients write it;
// without, as some others do.
std::string MetaSubject(const std::string& bucket, std::string_view name, bool padded = true);

// 22 random letters and digits, a new object's id.
std::string NewNuid();

#endif
