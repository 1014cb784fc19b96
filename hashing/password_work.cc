#include "hashing/password_hash.h"

void note_password_work(PasswordWork)
{
}
