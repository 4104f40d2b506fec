#pragma once

/*
 * Card file-system library: reads the TAVO partition of a camera card (a whole disk such as
 * /dev/sdb, or a card image file). The on-card layout is described in docs/tavo-format.md.
 *
 * Conventions
 * - Text arguments are 8-bit, NUL-terminated. All record values are little-endian and
 *   unaligned.
 * - The device block (VX_TAVO_DEVICE_BLOCK_SIZE bytes) is allocated zeroed, owned and freed by
 *   the caller; the library only keeps an opaque key in it. A block may be freed once
 *   VX_Tavo_Device_Close has returned. A block that was closed (or never opened) makes every
 *   call that takes it fail cleanly.
 * - Readers never write to the disk: devices are opened read-only. Writing a card is the job of
 *   tavo::CardWriter (tavo_writer.h).
 * - Every offset, length and count read from the card is checked against the partition when
 *   the device is opened; a damaged card makes VX_Tavo_Device_Open fail instead of leading to
 *   a read outside the partition.
 *
 * Threads
 * - Every entry point may be called from any thread. Several devices may be open at once,
 *   and several files may be open on one device. One device block may be used by two threads
 *   at the same time (for example the user interface listing while a worker reads a file):
 *   the library's state is guarded inside, and reads use positioned I/O so they never share a
 *   file position. Only opening or closing a device while another thread still uses the same
 *   block is the caller's error (the other thread's calls then fail; they never crash).
 * - A file handle keeps one read position for VX_Tavo_File_Read; two threads reading one
 *   handle sequentially would interleave. VX_Tavo_File_ReadAt has no position and may be used
 *   from several threads on one handle.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Sizes the callers allocate. */
enum {
    VX_TAVO_DEVICE_BLOCK_SIZE = 161,     /* device block, zeroed by the caller */
    VX_TAVO_LIST_BUFFER_SIZE = 3845,     /* file list buffer: capacity word + 30 records + 1 */
    VX_TAVO_LIST_CAPACITY = 30,          /* records per VX_Tavo_Get_FileList call */
    VX_TAVO_LIST_RECORD_SIZE = 128,      /* one file record in the list buffer */
    VX_TAVO_LIST_HEADER_SIZE = 4,        /* the 32-bit capacity word before the records */
    VX_TAVO_READ_SIZE = 5242880,         /* the block size callers read a file in (5 MiB) */
    VX_TAVO_MASTER_INFO_SIZE = 64,       /* VX_Tavo_Get_Master_Device_Info record */
    VX_TAVO_DIR_INFO_SIZE = 64,          /* VX_Tavo_Get_Dir_Info buffer */
    VX_TAVO_PATH_MAX = 132,              /* "/DIR/NAME" including the NUL */
    VX_TAVO_NAME_MAX = 63,               /* bytes of a file name, without the NUL */
    VX_TAVO_DIR_NAME_MAX = 47,           /* bytes of a directory name, without the NUL */
    VX_TAVO_OPEN_MODE = 130              /* the value callers pass to VX_Tavo_Device_Open */
};

/* Offsets inside one 128-byte list record. */
enum {
    VX_TAVO_RECORD_NAME_OFFSET = 0,      /* file name, NUL-terminated, at most 64 bytes */
    VX_TAVO_RECORD_NAME_SIZE = 64,
    VX_TAVO_RECORD_ID_OFFSET = 98,       /* 32-bit file identifier (>= 1) */
    VX_TAVO_RECORD_SIZE_OFFSET = 102,    /* 32-bit unsigned file size in bytes */
    VX_TAVO_RECORD_TIME_OFFSET = 106     /* 32-bit signed seconds since 1970-01-01 UTC */
};

/* Offsets inside the VX_TAVO_MASTER_INFO_SIZE-byte information record. */
enum {
    VX_TAVO_INFO_VERSION_OFFSET = 0,        /* uint32: record layout version, 1 */
    VX_TAVO_INFO_SECTOR_SIZE_OFFSET = 4,    /* uint32: 512 */
    VX_TAVO_INFO_FLAGS_OFFSET = 8,          /* uint32: bit 0 set when a TAVO partition is valid */
    VX_TAVO_INFO_SECTOR_COUNT_OFFSET = 12,  /* uint32: 512-byte sectors of the whole disk,
                                               0xFFFFFFFF when the disk is larger */
    VX_TAVO_INFO_DISK_BYTES_OFFSET = 16,    /* uint64: bytes of the whole disk */
    VX_TAVO_INFO_FAT_OFFSET_OFFSET = 24,    /* uint64: FAT partition start in bytes, 0 if none */
    VX_TAVO_INFO_FAT_BYTES_OFFSET = 32,     /* uint64: FAT partition length in bytes */
    VX_TAVO_INFO_TAVO_OFFSET_OFFSET = 40,   /* uint64: TAVO partition start in bytes, 0 if none */
    VX_TAVO_INFO_TAVO_BYTES_OFFSET = 48     /* uint64: TAVO partition length in bytes */
};

/* Offsets inside the VX_TAVO_DIR_INFO_SIZE-byte directory information buffer. */
enum {
    VX_TAVO_DIRINFO_FILE_COUNT_OFFSET = 0,  /* uint32: files in the directory */
    VX_TAVO_DIRINFO_TOTAL_BYTES_OFFSET = 8, /* uint64: sum of their sizes */
    VX_TAVO_DIRINFO_OLDEST_OFFSET = 16,     /* int64: oldest time stamp, 0 when empty */
    VX_TAVO_DIRINFO_NEWEST_OFFSET = 24      /* int64: newest time stamp, 0 when empty */
};

/* Result codes (negative values are failures). */
enum {
    VX_TAVO_OK = 0,
    VX_TAVO_ERR_ARGUMENT = -1,   /* null pointer, bad size, bad mode, unknown handle */
    VX_TAVO_ERR_IO = -2,         /* the path cannot be opened or a read failed */
    VX_TAVO_ERR_NO_PARTITION = -3, /* no MBR or no TAVO partition on the disk */
    VX_TAVO_ERR_DAMAGED = -4,    /* the partition's structures fail a check */
    VX_TAVO_ERR_NOT_FOUND = -5,  /* directory, file or identifier does not exist */
    VX_TAVO_ERR_LIMIT = -6       /* too many open devices or files */
};

/* Counts one more user of the library. Returns 0. The other calls work without it. */
int VX_Tavo_Start(void);

/* Ends one user's Start. When no user is left (also when Start was never called), closes every
 * device still open; their blocks then fail cleanly. Returns 0. */
int VX_Tavo_Stop(void);

/* Makes the library read `devicePath` through a copy of the open descriptor `fd` instead of
 * opening the path itself: for a disk the user may not open but was handed a descriptor for
 * (the desktop's disk service opens it on the user's behalf). Read access is enough; the
 * caller keeps and closes its own `fd`. Every later check, information request and device
 * open of exactly that path uses the descriptor. Replaces an earlier one of the same path.
 * Returns 0, VX_TAVO_ERR_ARGUMENT for a bad path, or VX_TAVO_ERR_IO when `fd` is not a
 * readable file or block device. */
int VX_Tavo_Attach_Descriptor(const char *devicePath, int fd);

/* Forgets the descriptor attached to `devicePath` (devices already open keep reading through
 * theirs). Returns 0, or VX_TAVO_ERR_NOT_FOUND when none was attached. */
int VX_Tavo_Detach_Descriptor(const char *devicePath);

/* Non-zero when the disk or image at `devicePath` has an MBR with a TAVO partition whose
 * superblock is intact; 0 otherwise (also when the path cannot be opened). */
int VX_Tavo_Check_Tavo_partition(const char *devicePath);

/* Fills `info` (VX_TAVO_MASTER_INFO_SIZE bytes) with the disk's size and partition layout.
 * Works on any readable disk, with or without a TAVO partition. Returns 0, or a negative
 * result code with `info` zeroed. */
int VX_Tavo_Get_Master_Device_Info(const char *devicePath, unsigned char *info);

/* Opens the TAVO partition of `devicePath` read-only and validates its superblock and tables.
 * `mode` is the value VX_TAVO_OPEN_MODE that callers pass; it is not interpreted. Returns 0
 * when opened (the block then identifies the device), a negative result code otherwise. A
 * block that still holds an open device is refused. */
int VX_Tavo_Device_Open(const char *devicePath, int mode, unsigned char *deviceBlock);

/* Closes the device and every file still open on it. Returns 0, or VX_TAVO_ERR_ARGUMENT for
 * a block that is not open. */
int VX_Tavo_Device_Close(unsigned char *deviceBlock);

/* Fills `info` (VX_TAVO_DIR_INFO_SIZE bytes, may be null) and sets *fileCount and
 * *totalBytes (either may be null) for the directory `dirName`. Returns 0 or a negative
 * result code (outputs then untouched). Directory names compare exactly (case matters). */
int VX_Tavo_Get_Dir_Info(unsigned char *deviceBlock, const char *dirName, unsigned char *info,
                         int64_t *fileCount, int64_t *totalBytes);

/* Lists the files of `dirName` page by page. *cursor is the 1-based position of the next file
 * (set it to 1 before the first call; the library advances it). `listBuffer` holds
 * VX_TAVO_LIST_BUFFER_SIZE bytes whose first 32-bit word is the capacity in records (30;
 * larger values are treated as 30). Returns the number n of records written after the
 * capacity word, 0 when no more remain, or a negative result code. `reserved` is 0. */
int VX_Tavo_Get_FileList(unsigned char *deviceBlock, const char *dirName, uint32_t *cursor,
                         unsigned char *listBuffer, int reserved);

/* Opens the file with identifier `fileId` whose path is "/DIR/NAME" (both must name the same
 * file). `mode` must be "r". Returns a file handle of 1 or more, or a negative result code.
 * `reserved1` and `reserved2` are 0. */
int VX_Tavo_File_Open(unsigned char *deviceBlock, const char *path, const char *mode,
                      int reserved1, int reserved2, int fileId);

/* Reads up to `size` bytes from the handle's position into `buffer` and advances it. Returns
 * the number of bytes read (never past the file's size), 0 at the end, negative on failure. */
int VX_Tavo_File_Read(unsigned char *deviceBlock, unsigned char *buffer, int size, int handle);

/* Closes the handle. Returns 0, or VX_TAVO_ERR_ARGUMENT for an unknown handle. */
int VX_Tavo_File_Close(unsigned char *deviceBlock, int handle);

/* Random access for the playback engine's I/O context: reads up to `size` bytes at byte
 * `offset` of the file, without touching the handle's position. Returns bytes read, 0 at or
 * past the end, negative on failure (also for a negative offset). Safe from several threads
 * on one handle. */
int VX_Tavo_File_ReadAt(unsigned char *deviceBlock, int handle, int64_t offset,
                        unsigned char *buffer, int size);

/* Sets *size to the file's length in bytes. Returns 0 or a negative result code. */
int VX_Tavo_File_Size(unsigned char *deviceBlock, int handle, int64_t *size);

/* Moves the handle's read position used by VX_Tavo_File_Read to `offset` (0 to the file's
 * size). Returns 0 or a negative result code. */
int VX_Tavo_File_Seek(unsigned char *deviceBlock, int handle, int64_t offset);

#ifdef __cplusplus
}
#endif
